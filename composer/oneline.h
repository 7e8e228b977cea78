// oneline: a one-line field takes pasted or dropped text up to its first line break, as a
// one-line edit on Windows does, so no field the user fills ever holds a line end.
#pragma once

class QLineEdit;

void keepToOneLine(QLineEdit *edit);
