// oneline: one-line fields that never take a line break from the user.
#include "oneline.h"

#include <QLineEdit>
#include <QValidator>

namespace {

class OneLine final : public QValidator {
  public:
    using QValidator::QValidator;

    // Runs on every change the user makes; text set by the program is not seen here.
    State validate(QString &input, int &pos) const override
    {
        for (;;) {
            qsizetype at = -1;
            for (qsizetype i = 0; i < input.size() && at < 0; ++i)
                if (input[i] == u'\r' || input[i] == u'\n') at = i;
            if (at < 0) return Acceptable;
            // The inserted text ends at the cursor: from its first break on, it is dropped.
            if (pos > at) {
                input.remove(at, pos - at);
                pos = int(at);
            } else {
                input.remove(at, 1);
            }
        }
    }
};

} // namespace

void keepToOneLine(QLineEdit *edit) { edit->setValidator(new OneLine(edit)); }
