#include "app/Form1.h"

#include "app/OptionsPanel.h"
#include "core/AppTitle.h"
#include "core/ErrorReport.h"
#include "core/ProgressBar.h"
#include "core/Settings.h"
#include "filelist/Commands.h"
#include "filelist/FileListView.h"
#include "numbering/NumberingRun.h"
#include "sys/FileUtils.h"

#include "OptionTable.h"

#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QtEndian>
#include <cstdlib>
#include <stdexcept>

namespace {
const QString kLoadTag = QStringLiteral("Numbrel2021/08/31.Form1.Form_Load");

// Layout positions are kept in twips, as the form was designed; 15 twips make one pixel.
QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

QFont formFont() {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(9);
    f.setBold(true);
    return f;
}

QFont buttonFont() {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(11.25);
    f.setBold(true);
    return f;
}

// A .cur file keeps each image's hot spot where an .ico keeps planes and bit count.
QPoint curHotSpot(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = f.read(14);
    if (head.size() < 14 || qFromLittleEndian<quint16>(head.constData() + 2) != 2)
        return {};
    return {qFromLittleEndian<quint16>(head.constData() + 10),
            qFromLittleEndian<quint16>(head.constData() + 12)};
}

QCursor loadCursorFile(const QString& path) {
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull())
        throw std::runtime_error("The pointer file " + path.toStdString() +
                                 " cannot be read: " + reader.errorString().toStdString());
    const QPoint hot = curHotSpot(path);
    return QCursor(QPixmap::fromImage(image), hot.x(), hot.y());
}

// "abc" or an empty text is no number; blanks around the digits are allowed.
std::int32_t ToColorValue(const QString& text) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok)
        throw std::runtime_error("Type mismatch: \"" + text.toStdString() + "\" is not a colour value");
    if (value < INT32_MIN || value > INT32_MAX)
        throw std::runtime_error("Overflow: \"" + text.toStdString() + "\" is too large for a colour value");
    return static_cast<std::int32_t>(value);
}
} // namespace

Form1::Form1(Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , prompts_(prompts)
    , busy_(this)
    , quitAction_([] { std::_Exit(0); }) {
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    files_ = std::make_unique<FileList>(ListView1);
    options_ = std::make_unique<NumberingOptions>(Text1, Text2, Text3, Text4, Picture1, Text5);
    options_->setFontColor(0); // the swatch starts black
    services_ =
        std::make_unique<Services>(Services{this, prompts_, busy_, *files_, *options_, *ProgressBar1});
    busy_.setRowsLockedTest(&NumberingRunUnderWay);
    ListView1->setBusyTest([this] { return busy_.rowsLocked(); });
    ListView1->setDropHandler([this](const QStringList& paths) { DropOnList(paths); });
    connectOptionFields();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setFixedSize(8040 / 15, 6780 / 15);
    setFont(formFont());
    setMouseTracking(true);

    auto button = [this](QWidget* parent, const char* name, const QString& caption, QRect where) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(where);
        b->setFont(buttonFont());
        b->setMouseTracking(true);
        b->installEventFilter(this);
        return b;
    };
    auto field = [](QWidget* parent, const char* name, QRect where, bool centred) {
        auto* t = new QLineEdit(parent);
        t->setObjectName(QLatin1String(name));
        t->setGeometry(where);
        if (centred)
            t->setAlignment(Qt::AlignCenter);
        return t;
    };
    auto frame = [this](const char* name, const QString& caption, QRect where) {
        auto* f = new QGroupBox(caption, this);
        f->setObjectName(QLatin1String(name));
        f->setGeometry(where);
        f->setMouseTracking(true);
        f->installEventFilter(this);
        return f;
    };

    ListView1 = new FileListView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setGeometry(twips(120, 120, 7800, 2175));
    ListView1->setToolTip(
        QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | line to "
                       "right and out of window to reveal full names."));
    ListView1->setColumnCount(0);
    ListView1->setHeaderHidden(false);
    ListView1->viewport()->installEventFilter(this);
    ListView1->installEventFilter(this);

    PushButton1 = button(this, "PushButton1", QStringLiteral("Add PDF File(s)"), twips(120, 2400, 3840, 405));
    PushButton3 = button(this, "PushButton3", QStringLiteral("Add All PDF File(s) In Folder"),
                         twips(4080, 2400, 3840, 405));
    PushButton5 = button(this, "PushButton5", QStringLiteral("Clear List"), twips(120, 2910, 3840, 405));
    PushButton6 = button(this, "PushButton6", QStringLiteral("Load Sample/Example Files"),
                         twips(4080, 2910, 3840, 405));

    Frame1 = frame("Frame1", QStringLiteral("Options"), twips(120, 3390, 7800, 1320));
    const struct {
        int index;
        const char* caption;
        QRect where;
    } labels[] = {
        {0, "First Number:", twips(240, 300, 1140, 225)},
        {1, "Left Margin:", twips(2160, 300, 1005, 225)},
        {3, "pt", twips(3800, 300, 165, 225)},
        {2, "Bottom Margin:", twips(4080, 300, 1290, 225)},
        {4, "pt", twips(5950, 300, 165, 225)},
        {5, "Font Size:", twips(240, 840, 810, 225)},
        {6, "Font Color:", twips(2160, 840, 900, 225)},
    };
    for (const auto& l : labels) {
        auto* label = new QLabel(QString::fromLatin1(l.caption), Frame1);
        label->setObjectName(QStringLiteral("Label1_%1").arg(l.index));
        // Liberation Sans draws a pixel or three wider than Arial did on the design screen; a label
        // may take that room rather than cut its last letters (the next control starts further right).
        QRect where = l.where;
        where.setWidth(std::max(where.width(), label->fontMetrics().horizontalAdvance(label->text())));
        label->setGeometry(where);
        label->setMouseTracking(true);
        Label1.at(l.index) = label;
    }
    Text1 = field(Frame1, "Text1", twips(1440, 270, 510, 375), true);
    Text2 = field(Frame1, "Text2", twips(3240, 270, 510, 375), true);
    Text3 = field(Frame1, "Text3", twips(5420, 270, 510, 375), true);
    Text4 = field(Frame1, "Text4", twips(1440, 765, 510, 375), true);
    // Design texts: set before the change handlers are connected, as the form's own contents.
    const auto defaultOf = [](std::string_view name) {
        const std::string_view text = FindStampOption(name)->info.defaultText;
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    };
    Text1->setText(defaultOf("--first"));
    Text2->setText(defaultOf("--left"));
    Text3->setText(defaultOf("--bottom"));
    Text4->setText(defaultOf("--size"));

    auto* swatch = new QLabel(Frame1);
    swatch->setObjectName(QStringLiteral("Picture1"));
    swatch->setGeometry(twips(3240, 765, 1575, 405));
    swatch->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1 = swatch;
    PushButton4 = button(Frame1, "PushButton4", QStringLiteral("Change Color"), twips(4920, 765, 2625, 405));

    Frame2 = frame("Frame2", QStringLiteral("Save Results To This Folder"), twips(120, 4800, 7800, 810));
    Text5 = field(Frame2, "Text5", twips(240, 300, 6630, 345), false);
    PushButton7 = button(Frame2, "PushButton7", QStringLiteral("..."), twips(6960, 300, 600, 345));

    PushButton2 = button(this, "PushButton2", QStringLiteral("Start Adding"), twips(120, 5730, 7800, 405));
    ProgressBar1 = new ProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twips(120, 6255, 7800, 405));

    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);

    // Tab order as designed; frames, labels, the swatch and the bar take no focus.
    const QList<QWidget*> order{ListView1,   Text1,       Text2,       Text3,       Text4,
                                PushButton4, PushButton1, PushButton3, PushButton2, PushButton5,
                                PushButton6, Text5,       PushButton7};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void Form1::connectOptionFields() {
    const std::pair<QLineEdit*, Setting> fields[] = {
        {Text1, Setting::FirstNumber}, {Text2, Setting::LeftMargin},   {Text3, Setting::BottomMargin},
        {Text4, Setting::FontSize},    {Text5, Setting::OutputFolder},
    };
    for (const auto& [field, key] : fields) {
        connect(field, &QLineEdit::textChanged, this, [key](const QString& text) {
            // A refused write leaves the field as typed; the next change tries again.
            try {
                WriteSetting(key, text);
            } catch (const SettingsError&) {
            }
        });
    }
}

void Form1::Form_Load() {
    StepGuard g(prompts_, kLoadTag);
    g.step(100, [&] { ApplySkin(); });
    g.step(104, [&] { setWindowTitle(kProductName); });
    g.step(104, [&] { setWindowIcon(QIcon(QStringLiteral(":/numbrel/numbrel.png"))); });
    g.step(104, [&] { SetApplicationTitle(); });
    const QString cursorFile = ProgramFolder() + QStringLiteral("/HAND-M.CUR");
    if (g.blockIf(106, [&] { return PathExists(cursorFile); }))
        g.step(108, [&] { handPointer_ = loadCursorFile(cursorFile); });
    g.step(128, [&] { ListView1->setHeaderLabels({QStringLiteral("PDF File(s)")}); });
    g.step(130, [&] { ListView1->header()->resizeSection(0, 7200 / 15); });
    // A store that can't be read is reported once, at the first step that reads it; every read then
    // gives the key's default.
    auto stored = [](Setting key) {
        // The default is worked out first, even when a value is stored (the desktop folder).
        const QString defaultValue = SettingDefault(key);
        return ReadSetting(key, defaultValue);
    };
    g.step(132, [&] {
        CheckSettingsStore();
        Text1->setText(stored(Setting::FirstNumber));
    });
    g.step(134, [&] { Text2->setText(stored(Setting::LeftMargin)); });
    g.step(136, [&] { Text3->setText(stored(Setting::BottomMargin)); });
    g.step(138, [&] { Text4->setText(stored(Setting::FontSize)); });
    g.step(140, [&] { options_->setFontColor(ToColorValue(stored(Setting::FontColor))); });
    g.step(142, [&] { Text5->setText(stored(Setting::OutputFolder)); });
}

void Form1::ApplySkin() {
    const QString skin = ProgramFolder() + QStringLiteral("/x/o.cjs");
    const bool skinned = IsVisibleFile(skin);
    // No skinning engine exists here: only its background rule applies.
    const QColor background = skinned ? palette().color(QPalette::Button) : QColor(255, 255, 255);
    QList<QWidget*> surfaces{this, Frame1, Frame2};
    for (QLabel* label : Label1)
        surfaces.append(label);
    for (QWidget* w : surfaces) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, background);
        w->setPalette(p);
        w->setAutoFillBackground(true);
    }
}

void Form1::applyPointerRule(bool overButton) {
    if (busy_.isBusy())
        return;
    if (overButton && handPointer_)
        setCursor(*handPointer_);
    else
        setCursor(Qt::ArrowCursor);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        const bool overButton = qobject_cast<QPushButton*>(watched) != nullptr;
        // A frame also sees the moves its buttons pass up; only its own surface sets the arrow.
        auto* frame = qobject_cast<QGroupBox*>(watched);
        if (overButton || !frame || !frame->childAt(static_cast<QMouseEvent*>(event)->position().toPoint()))
            applyPointerRule(overButton);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
    // Moves that a button or frame left unhandled come up here too; only the background's own count.
    if (!childAt(event->position().toPoint()))
        applyPointerRule(false);
    QWidget::mouseMoveEvent(event);
}

void Form1::closeEvent(QCloseEvent* event) {
    // Every setting was saved when it changed, so nothing is lost by ending at once. A command under
    // way would otherwise go on behind a closed window.
    if (commandsUnderWay_ > 0)
        quitAction_();
    event->accept();
}

void Form1::runCommand(const std::function<void()>& command) {
    // A command started while another lets events through ends its own busy claim, not the other's.
    const BusyState::Scope busyScope(busy_);
    ++commandsUnderWay_;
    command();
    --commandsUnderWay_;
}

// A drop of a folder tree is a long command like any other: closing the window meanwhile ends it.
void Form1::DropOnList(const QStringList& paths) {
    runCommand([&] { DropPaths(*services_, paths); });
}

void Form1::PushButton1_Click() {
    runCommand([this] { AddFilesByDialog(*services_); });
}
void Form1::PushButton2_Click() {
    runCommand([this] { RunNumbering(*services_); });
}
void Form1::PushButton3_Click() {
    runCommand([this] { AddFolderFiles(*services_); });
}
void Form1::PushButton4_Click() {
    runCommand([this] { ChangeColor(*services_); });
}
void Form1::PushButton5_Click() {
    runCommand([this] { ClearList(*services_); });
}
void Form1::PushButton6_Click() {
    runCommand([this] { LoadSampleFiles(*services_); });
}
void Form1::PushButton7_Click() {
    runCommand([this] { ChooseOutputFolder(*services_); });
}
