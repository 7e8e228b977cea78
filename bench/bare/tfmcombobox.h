// The bare form's stand-in for the composer's combo box: a plain QComboBox, so that the form
// builds without the composer or the base library.
#pragma once

#include <QComboBox>

class TFMComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    // The layout sets it; a plain box has no use for it.
    void setUpperCase(bool) {}
};
