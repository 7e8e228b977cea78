// TFM: the main window of the label composer.
#include "TFM.h"

#include "ui_TFMform.h"

#include "Felles.h"
#include "filedialog.h"
#include "hs_reg.h"
#include "input.h"
#include "labellist.h"
#include "labellistview.h"
#include "oneline.h"
#include "platform.h"
#include "rowdelegate.h"
#include "tfmapplication.h"
#include "tfmcore.h"
#include "windowpos.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <utility>

namespace {
// The caption carries the version the build gives the project.
const QString Title = QStringLiteral("Kalvenor TFM-system   " KALVENOR_VERSION);
// The character height of the window's components that name none.
constexpr int WindowPixels = 11;
} // namespace

QString TFMTittel = Title;
QString SisteLet;
std::int32_t SystemIndeks = 0;
std::int32_t ProduktIndeks = 0;
TTFMform *TFMform = nullptr;

namespace {

void setPixelSize(QWidget *widget, int pixels)
{
    QFont font = widget->font();
    font.setPixelSize(pixels);
    widget->setFont(font);
}

// A caption takes the size of its text, from its left edge rightwards to right at most. Where a
// substitute font runs wider than that room, its letters close up a little before it is cut.
void fitCaption(QLabel *caption, int right)
{
    const int room = right - caption->x();
    QFont font = caption->font();
    for (int spacing = 99; caption->sizeHint().width() > room && spacing >= 85; --spacing) {
        font.setLetterSpacing(QFont::PercentageSpacing, spacing);
        caption->setFont(font);
    }
    const QSize text = caption->sizeHint();
    caption->resize(std::min(text.width(), room), text.height());
}

// At most what a field's edit holds; the entry it came from stays whole in the list.
QString fieldText(const QString &text, const QLineEdit *edit)
{
    return text.size() > edit->maxLength() ? text.left(edit->maxLength()) : text;
}

// Drops the user's input, for the moment it is installed.
class InputDrop final : public QObject {
  protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel: return true;
        default: return false;
        }
    }
};

// Long work on the window's thread: the busy cursor while it runs. A click or a key made
// meanwhile waits in the queue and would act afterwards on what the work has changed, on a
// list the user never saw; the window was busy, so such input is dropped.
class BusyWork {
  public:
    BusyWork() { platform::ui().setBusyCursor(true); }
    ~BusyWork()
    {
        InputDrop drop;
        qApp->installEventFilter(&drop);
        QCoreApplication::processEvents();
        qApp->removeEventFilter(&drop);
        platform::ui().setBusyCursor(false);
    }
    BusyWork(const BusyWork &) = delete;
    BusyWork &operator=(const BusyWork &) = delete;
};

} // namespace

void TFMInitialization()
{
    TFMTittel = Title;
    SisteLet.clear();
    SystemIndeks = 0;
    ProduktIndeks = 0;
}

// The buttons' pictures live in a static library and are pulled in only when something names them.
static void initWindowResources() { Q_INIT_RESOURCE(composer); }

TTFMform::TTFMform(QWidget *parent) : QWidget(parent), m_ui(std::make_unique<Ui::TTFMform>())
{
    TFMform = this;
    initWindowResources();
    setOwnWindowFlags(this);
    // Character heights in pixels, as the fixed pixel geometry needs them on every screen (a
    // point size grows with the screen's resolution). The window's own is in place before its
    // components are made, so each takes it as it is made instead of being handed it afterwards.
    QFont windowFont = QApplication::font();
    windowFont.setPixelSize(WindowPixels);
    QApplication::setFont(windowFont, "TTFMform");
    m_ui->setupUi(this);

    Ui::TTFMform &ui = *m_ui;
    // A window placed inside another takes its font from there.
    if (font().pixelSize() != WindowPixels) setPixelSize(this, WindowPixels);
    ui.MerkeListe->setRowHeight(13);
    ui.MerkeListe->setItemDelegate(new CutRowDelegate(ui.MerkeListe));
    // A line break in a field would split its label-list entry into two lines of the file.
    for (QLineEdit *edit : findChildren<QLineEdit *>()) keepToOneLine(edit);
    ui.Lokalisering->setFocus();
    m_labelList = new LabelListModel(this);
    ui.MerkeListe->setModel(m_labelList);
    connectHandlers();
}

void TTFMform::setCaptionFonts()
{
    Ui::TTFMform &ui = *m_ui;
    const std::pair<QWidget *, int> pixelSizes[] = {
        {ui.Label1, 13},       {ui.Label2, 13},       {ui.Label3, 13},       {ui.Label7, 13},
        {ui.Label8, 13},       {ui.Label6, 13},       {ui.Lokalisering, 13}, {ui.SpeedButton1, 16},
        {ui.SpeedButton2, 16}, {ui.SpeedButton7, 16}, {ui.TFMLabel, 24},     {ui.TekstLAbel, 24}};
    for (const auto &[widget, pixels] : pixelSizes) setPixelSize(widget, pixels);
    // The captions beside a field end where the field begins; the link reacts on its text only.
    const std::pair<QLabel *, int> captions[] = {
        {ui.Label1, width()},      {ui.Label2, width()},     {ui.Label3, width()},
        {ui.Label7, width()},      {ui.Label8, width()},     {ui.Label6, width()},
        {ui.Label4, ui.IDNr->x()}, {ui.Label5, ui.Nr2->x()}, {ui.Label9, ui.Nr1->x()}};
    for (const auto &[caption, right] : captions) fitCaption(caption, right);
    QFont courier = ui.MerkeListe->font();
    courier.setStyleHint(QFont::TypeWriter); // fixed pitch, also where no Courier stands in
    ui.MerkeListe->setFont(courier);
}

void TTFMform::completeShow()
{
    setCaptionFonts();
    // The lists with a file get their rows at their first load, from the file where it can be
    // read, so each is filled once.
    m_ui->SystemCombo->setItems(builtInTable(CodeTable::SystemHovedgruppe));
    m_ui->ProduktCombo->setItems(builtInTable(CodeTable::ProduktHovedgruppe));
    // The lists' first load goes on after a failed factory file, as after any failed handler.
    TFMApplication::guarded([this] { FormCreate(); });
    TFMApplication::guarded([this] {
        LoadTFM();
        FixSystem();
    });
}

TTFMform::~TTFMform()
{
    if (TFMform == this) TFMform = nullptr;
}

void TTFMform::connectHandlers()
{
    Ui::TTFMform &ui = *m_ui;
    connect(ui.Lokalisering, &TFMComboBox::changed, this, &TTFMform::LokaliseringChange);
    connect(ui.Lokalisering, &TFMComboBox::closeUp, this, &TTFMform::LokaliseringCloseUp);
    connect(ui.System, &TFMComboBox::changed, this, &TTFMform::SystemChange);
    connect(ui.System, &TFMComboBox::closeUp, this, &TTFMform::SystemCloseUp);
    connect(ui.Produkt, &TFMComboBox::changed, this, &TTFMform::LokaliseringChange);
    connect(ui.Produkt, &TFMComboBox::closeUp, this, &TTFMform::ProduktCloseUp);
    connect(ui.Tekst, &TFMComboBox::changed, this, &TTFMform::LokaliseringChange);
    // An edit recomposes on every change of its text, also one made by the program.
    for (QLineEdit *edit : {ui.Nr1, ui.Nr2, ui.IDNr})
        connect(edit, &QLineEdit::textChanged, this, &TTFMform::LokaliseringChange);
    connect(ui.Unik, &QCheckBox::toggled, this, &TTFMform::LokaliseringChange);

    connect(ui.SpeedButton1, &QToolButton::clicked, this, &TTFMform::SpeedButton1Click);
    connect(ui.SpeedButton2, &QToolButton::clicked, this, &TTFMform::SpeedButton2Click);
    connect(ui.SpeedButton7, &QToolButton::clicked, this, &TTFMform::SpeedButton7Click);
    connect(ui.CopyButton, &QToolButton::clicked, this, &TTFMform::CopyButtonClick);
    connect(ui.HentKnapp, &QPushButton::clicked, this, &TTFMform::HentKnappClick);
    for (QToolButton *button : {ui.SpeedButton3, ui.SpeedButton4, ui.SpeedButton5, ui.SpeedButton6})
        connect(button, &QToolButton::clicked, this, [this, button] { SpeedButton6Click(button); });
    ui.Label6->installEventFilter(this);

    connect(ui.SpeedButton8, &QToolButton::clicked, this, &TTFMform::SpeedButton8Click);
    connect(ui.SpeedButton9, &QToolButton::clicked, this, &TTFMform::SpeedButton9Click);
    connect(ui.SystemNeste, &QToolButton::clicked, this, &TTFMform::SystemNesteClick);
    connect(ui.ProduktNeste, &QToolButton::clicked, this, &TTFMform::ProduktNesteClick);

    connect(ui.BitBtn1, &QPushButton::clicked, this, &TTFMform::BitBtn1Click);
    connect(ui.BitBtn2, &QPushButton::clicked, this, &TTFMform::BitBtn2Click);
    connect(ui.BitBtn3, &QPushButton::clicked, this, &TTFMform::BitBtn3Click);
    connect(ui.BitBtn5, &QPushButton::clicked, this, &TTFMform::BitBtn5Click);
    ui.MerkeListe->installEventFilter(this);

    connect(ui.SystemCombo, &TFMComboBox::closeUp, this, &TTFMform::SystemComboCloseUp);
    connect(ui.SystemUnderCOmbo, &TFMComboBox::closeUp, this, &TTFMform::SystemUnderCOmboCloseUp);
    connect(ui.ProduktCombo, &TFMComboBox::closeUp, this, &TTFMform::ProduktComboCloseUp);
}

// ---- Life cycle ----

void TTFMform::FormCreate()
{
    // SystemCombo and ProduktCombo have no file.
    for (const CodeList &list : CodeLists) {
        // The built-in rows are read out only for a file that is missing.
        const QString path = codeListPath(QLatin1String(list.file));
        if (!platform::fileExists(path)) writeFactoryFile(path, builtInTable(list.table));
    }
}

void TTFMform::FormShow()
{
    Ui::TTFMform &ui = *m_ui;
    QString extra;
    loadwindowpos(this, QStringLiteral("TFM-Form"), extra);
    setFixedSize(872, 555); // the client area of an 880 by 582 window
    setWindowTitle(TFMTittel);
    setinisection(QStringLiteral("TFM"));
    ui.Lokalisering->setText(inireadstring(QStringLiteral("Lokalisering")));
    ui.Produkt->setText(inireadstring(QStringLiteral("Produkt")));
    ui.System->setText(inireadstring(QStringLiteral("System")));
    ui.Tekst->setText(inireadstring(QStringLiteral("Tekst")));
    SisteLet = inireadstring(QStringLiteral("SisteLet"));
    resetinisection();
    m_restored = true;
    LokaliseringChange();
}

void TTFMform::FormClose()
{
    const Ui::TTFMform &ui = *m_ui;
    savewindowpos(this, QStringLiteral("TFM-Form"), QString());
    // Fields that were never restored would overwrite the last session's with nothing.
    if (!m_restored) return;
    setinisection(QStringLiteral("TFM"));
    iniwritestring(QStringLiteral("Lokalisering"), ui.Lokalisering->text());
    iniwritestring(QStringLiteral("Produkt"), ui.Produkt->text());
    iniwritestring(QStringLiteral("System"), ui.System->text());
    iniwritestring(QStringLiteral("Tekst"), ui.Tekst->text());
    iniwritestring(QStringLiteral("SisteLet"), SisteLet);
    resetinisection();
}

void TTFMform::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown) return;
    m_shown = true;
    // This comes before the message loop has begun; its errors are shown all the same.
    TFMApplication::guarded([this] { FormShow(); });
}

void TTFMform::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    // The window's map request has gone out by now; its first paint waits for the message loop.
    if (m_shown && !m_completed) {
        m_completed = true;
        completeShow();
    }
}

void TTFMform::closeEvent(QCloseEvent *event)
{
    // A failed save is shown, and the window closes anyway, so the program can always end.
    TFMApplication::guarded([this] { FormClose(); });
    event->accept();
}

// ---- Code lists ----

std::array<TFMComboBox *, CodeLists.size()> TTFMform::codeListBoxes() const
{
    std::array<TFMComboBox *, CodeLists.size()> boxes{};
    for (std::size_t i = 0; i < CodeLists.size(); ++i)
        boxes[i] = findChild<TFMComboBox *>(QLatin1String(CodeLists[i].box));
    return boxes;
}

void TTFMform::LoadTFM()
{
    const auto lists = codeListBoxes();
    // A file that cannot be read is shown, and its list keeps what it holds, as for a missing
    // file (at the first load: its built-in rows); the other lists load, and the caller goes on
    // as after a clean reload.
    for (std::size_t i = 0; i < CodeLists.size(); ++i) {
        bool read = false;
        TFMApplication::guarded([&] {
            QStringList rows;
            read = readCodeList(codeListPath(QLatin1String(CodeLists[i].file)), rows);
            if (read) lists[i]->setItems(rows);
        });
        if (!read && !m_listsLoaded) lists[i]->setItems(builtInTable(CodeLists[i].table));
    }
    m_listsLoaded = true;
}

void TTFMform::SpeedButton6Click(QObject *Sender)
{
    const QString file = editButtonFile(Sender ? Sender->property("tag").toInt() : 0);
    if (file.isEmpty()) return;
    const QString path = codeListPath(file);
    if (!platform::fileExists(path)) return;
    shellopen(path, QString(), QString());
    LoadTFM();
}

void TTFMform::Label6Click() { shellopen(startGuideAddress(), QString(), QString()); }

bool TTFMform::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->MerkeListe && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (MerkeListeKeyDown(key->key(), key->modifiers())) return true;
    }
    if (watched == m_ui->Label6 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            m_ui->Label6->rect().contains(mouse->position().toPoint()))
            Label6Click();
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Group filters and matching ----

void TTFMform::groupFilter(const TFMComboBox *group)
{
    const auto list = std::find_if(CodeLists.begin(), CodeLists.end(), [group](const CodeList &l) {
        return l.groupBox && group->objectName() == QLatin1String(l.groupBox);
    });
    if (list == CodeLists.end()) return;
    const int selected = group->selectedIndex();
    if (selected < 0) return;
    auto *target = findChild<TFMComboBox *>(QLatin1String(list->box));
    QStringList lines;
    const bool opened = groupLines(codeListPath(QLatin1String(list->file)),
                                   group->itemText(selected), list->groupWidth, lines);
    target->setItems(lines);
    if (!opened) return;
    target->setText(QString());
    target->setFocus();
}

void TTFMform::SystemComboCloseUp() { groupFilter(m_ui->SystemCombo); }

void TTFMform::SystemUnderCOmboCloseUp() { groupFilter(m_ui->SystemUnderCOmbo); }

void TTFMform::ProduktComboCloseUp() { groupFilter(m_ui->ProduktCombo); }

void TTFMform::FixSystem()
{
    Ui::TTFMform &ui = *m_ui;
    const QString system = ui.System->text();
    const QString produkt = ui.Produkt->text();
    // A box whose group is not found keeps its selection, or its lack of one.
    if (const int i = groupIndex(ui.SystemCombo->items(), system, 1); i >= 0)
        ui.SystemCombo->selectIndex(i);
    if (const int i = groupIndex(ui.SystemUnderCOmbo->items(), system, 2); i >= 0)
        ui.SystemUnderCOmbo->selectIndex(i);
    // A one-character product text does not move the product group.
    if (produkt.size() >= 2) {
        if (const int i = groupIndex(ui.ProduktCombo->items(), produkt, 1); i >= 0)
            ui.ProduktCombo->selectIndex(i);
    }
}

// ---- Composition ----

void TTFMform::LokaliseringChange()
{
    Ui::TTFMform &ui = *m_ui;
    ui.TekstLAbel->setText(ui.Tekst->text());
    ui.TFMLabel->setText(
        composeLabel({ui.Lokalisering->text(), ui.System->text(), ui.Produkt->text(),
                      ui.Nr1->text(), ui.Nr2->text(), ui.Unik->isChecked(), ui.IDNr->text()}));
}

void TTFMform::SystemChange()
{
    LokaliseringChange();
    FixSystem();
}

void TTFMform::LokaliseringCloseUp() { m_ui->SystemCombo->setFocus(); }

void TTFMform::SystemCloseUp() { m_ui->Nr1->setFocus(); }

void TTFMform::ProduktCloseUp() { m_ui->Nr2->setFocus(); }

void TTFMform::stepField(QLineEdit *field)
{
    // A text that is no number, or the largest one, fails before the field is touched.
    field->setText(stepRunningNumber(field->text()));
}

void TTFMform::SpeedButton1Click() { stepField(m_ui->Nr2); }

void TTFMform::SpeedButton2Click() { stepField(m_ui->Nr1); }

void TTFMform::SpeedButton7Click() { stepField(m_ui->IDNr); }

void TTFMform::CopyButtonClick()
{
    // Straight to the clipboard: the hidden edit would cut a label at the length an edit holds.
    QGuiApplication::clipboard()->setText(m_ui->TFMLabel->text());
}

void TTFMform::HentKnappClick() { m_modalResult = QDialog::Accepted; }

// ---- Searches ----

void TTFMform::search(TFMComboBox *field, const QString &prompt, std::int32_t &index,
                      QToolButton *next)
{
    const QString answer = InputStr(prompt, SisteLet);
    if (answer.isEmpty()) return;
    // The reload undoes any group filter, so the whole list is searched.
    LoadTFM();
    const QString wanted = platform::upperCase(answer);
    const int hit = searchLines(field->items(), wanted, 0);
    if (hit < 0) return;
    field->selectIndex(hit);
    index = hit;
    SisteLet = wanted;
    next->setEnabled(true);
    FixSystem();
    LokaliseringChange();
}

void TTFMform::searchNext(TFMComboBox *field, std::int32_t &index)
{
    // No reload: the walk goes on in the list as it is now, group filter included.
    const QStringList lines = field->items();
    if (index >= lines.size()) index = -1;
    const int hit = searchLines(lines, SisteLet, index + 1);
    if (hit < 0) return;
    field->selectIndex(hit);
    index = hit;
    FixSystem();
    LokaliseringChange();
}

void TTFMform::SpeedButton8Click()
{
    search(m_ui->System, QStringLiteral("Søk etter system .."), SystemIndeks, m_ui->SystemNeste);
}

void TTFMform::SpeedButton9Click()
{
    search(m_ui->Produkt, QStringLiteral("Søk etter produkt .."), ProduktIndeks,
           m_ui->ProduktNeste);
}

void TTFMform::SystemNesteClick() { searchNext(m_ui->System, SystemIndeks); }

void TTFMform::ProduktNesteClick() { searchNext(m_ui->Produkt, ProduktIndeks); }

// ---- Label list ----

int TTFMform::selectedEntry() const
{
    const QModelIndexList rows = m_ui->MerkeListe->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void TTFMform::BitBtn1Click()
{
    LabelListModel::Refusal why = LabelListModel::Refusal::None;
    if (m_labelList->add(m_ui->TFMLabel->text() + u',' + m_ui->TekstLAbel->text(), &why) < 0)
        throw RunError(refusalText(why));
}

bool TTFMform::MerkeListeKeyDown(int Key, Qt::KeyboardModifiers Shift)
{
    Q_UNUSED(Shift); // Delete removes whatever Shift, Ctrl and Alt hold
    if (Key != Qt::Key_Delete) return false;
    const int row = selectedEntry();
    if (row < 0) return true;
    m_labelList->remove(row);
    // As the platform's list box has it: after a removal nothing is selected.
    m_ui->MerkeListe->selectionModel()->clear();
    return true;
}

QString TTFMform::chooseListFile(bool save)
{
    FileDialogRequest request;
    request.save = save;
    // Set anew every time, so the dialog always opens on the data folder and the usual name.
    request.folder = kalvenorpath(QStringLiteral("data\\tfm"));
    request.fileName = QStringLiteral("tfm-liste.csv");
    request.filters = {QStringLiteral("Komma Separert fil (*.csv)"),
                       QStringLiteral("Alle filer (*)")};
    request.defaultSuffix = QStringLiteral("csv");
    return FileDialog::choose(this, request);
}

void TTFMform::BitBtn2Click()
{
    const QString path = chooseListFile(true);
    if (path.isEmpty()) return;
    int err = 0;
    {
        const BusyWork busy;
        err = saveLabelList(path, *m_labelList);
    }
    if (err) throw FileCreateError(path, err);
}

void TTFMform::BitBtn3Click()
{
    const QString path = chooseListFile(false);
    if (path.isEmpty()) return;
    // The file is read whole before the list changes, so a failure leaves the list as it was.
    int err = 0;
    {
        const BusyWork busy;
        err = openLabelList(path, *m_labelList);
    }
    if (err) throw FileOpenError(path, err);
}

void TTFMform::BitBtn5Click()
{
    const int row = selectedEntry();
    if (row < 0) return;
    LoadTFM();
    Ui::TTFMform &ui = *m_ui;
    int room = 0;
    for (const QLineEdit *edit : {ui.Lokalisering->lineEdit(), ui.System->lineEdit(), ui.Nr1,
                                  ui.Produkt->lineEdit(), ui.Nr2, ui.IDNr, ui.Tekst->lineEdit()})
        room = std::max(room, edit->maxLength());
    const ReadBack back =
        m_labelList->visitEntry(row, [room](auto entry) { return readBackEntry(entry, room); });
    // The edits and the box recompose as they are set; the end state is set explicitly below.
    // Each takes no more than its edit holds, cut before the box puts it in capitals.
    ui.Lokalisering->setText(fieldText(back.fields.lokalisering, ui.Lokalisering->lineEdit()));
    ui.System->setText(fieldText(back.fields.system, ui.System->lineEdit()));
    ui.Nr1->setText(fieldText(back.fields.nr1, ui.Nr1));
    ui.Produkt->setText(fieldText(back.fields.produkt, ui.Produkt->lineEdit()));
    ui.Nr2->setText(fieldText(back.fields.nr2, ui.Nr2));
    ui.Unik->setChecked(back.fields.unik);
    ui.IDNr->setText(fieldText(back.fields.idnr, ui.IDNr));
    const QString text = fieldText(back.text, ui.Tekst->lineEdit());
    ui.Tekst->setText(text);
    LokaliseringChange();
    // The display shows the text part as stored, even where the field puts it in capitals.
    ui.TekstLAbel->setText(text);
    FixSystem();
}
