// TFM: the main window of the label composer, TTFMform, with its one instance TFMform; its
// handlers compose the label, keep the code lists and narrow them by their groups, search the
// lists and keep the label list and its file.
#pragma once

#include "tfmcore.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

class QLineEdit;
class QToolButton;
class LabelListModel;
class TFMComboBox;
namespace Ui {
class TTFMform;
}

// The unit's values, one set for the program's run.
extern QString TFMTittel;
extern QString SisteLet;
extern std::int32_t SystemIndeks;
extern std::int32_t ProduktIndeks;
// Returns the unit's values to their first state.
void TFMInitialization();

class TTFMform : public QWidget {
    Q_OBJECT

  public:
    explicit TTFMform(QWidget *parent = nullptr);
    ~TTFMform() override;

    // Life cycle.
    void FormCreate();
    void FormShow();
    void FormClose();

    // Code lists.
    void LoadTFM();
    void SpeedButton6Click(QObject *Sender);
    void Label6Click();

    // Group filters and matching.
    void SystemComboCloseUp();
    void SystemUnderCOmboCloseUp();
    void ProduktComboCloseUp();
    void FixSystem();

    // Composition.
    void LokaliseringChange();
    void SystemChange();
    void LokaliseringCloseUp();
    void SystemCloseUp();
    void ProduktCloseUp();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton7Click();
    void CopyButtonClick();
    void HentKnappClick();

    // Searches.
    void SpeedButton8Click();
    void SpeedButton9Click();
    void SystemNesteClick();
    void ProduktNesteClick();

    // Label list.
    void BitBtn1Click();
    // True when the key was the list's Delete, which is then not handed on.
    bool MerkeListeKeyDown(int Key, Qt::KeyboardModifiers Shift);
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn5Click();
    LabelListModel *labelList() const { return m_labelList; }

    // The result a modal showing of the window would end with; "Hent" sets it to OK.
    int modalResult() const { return m_modalResult; }

    void setVisible(bool visible) override;

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void connectHandlers();
    // The first showing's work that the window's first paint needs, but not its placing on the
    // screen: run as soon as the window is on its way there.
    void completeShow();
    void setCaptionFonts();
    // Refills the code list that group narrows with the lines of its file in the chosen group.
    void groupFilter(const TFMComboBox *group);
    static void stepField(QLineEdit *field);
    void search(TFMComboBox *field, const QString &prompt, std::int32_t &index, QToolButton *next);
    void searchNext(TFMComboBox *field, std::int32_t &index);
    QString chooseListFile(bool save);
    int selectedEntry() const;
    // The boxes of the five code lists, in the order of their files (CodeListFiles).
    std::array<TFMComboBox *, CodeLists.size()> codeListBoxes() const;

    std::unique_ptr<Ui::TTFMform> m_ui;
    bool m_shown = false;
    bool m_completed = false;   // completeShow has run
    bool m_restored = false;    // the fields hold what the settings gave them
    bool m_listsLoaded = false; // the code lists have had their first load
    int m_modalResult = 0;
    LabelListModel *m_labelList = nullptr;
};

extern TTFMform *TFMform;
