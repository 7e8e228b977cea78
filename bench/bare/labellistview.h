// The bare form's stand-in for the composer's list view: a plain QListView, so that the form
// builds without the composer.
#pragma once

#include <QListView>

class LabelListView : public QListView {
  public:
    using QListView::QListView;
};
