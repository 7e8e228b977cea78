// The bare form's stand-ins for the composer's own widgets: a plain combo box and a plain list
// view, so that the form builds without the composer or the base library.
#pragma once

#include <QComboBox>
#include <QListView>

class TFMComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    // The layout sets it; a plain box has no use for it.
    void setUpperCase(bool) {}
};

class LabelListView : public QListView {
  public:
    using QListView::QListView;
};
