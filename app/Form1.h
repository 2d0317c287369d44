#pragma once
// The main window. Its handlers are a switchboard: each calls its command in the subsystem that owns
// it, handing over the window's services.

#include "core/BusyState.h"
#include "core/NumberingOptions.h"
#include "core/Services.h"
#include "filelist/FileList.h"

#include <QCursor>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class FileListView;
class ProgressBar;
class Prompts;

class Form1 : public QWidget {
    Q_OBJECT
public:
    // prompts must outlive the window.
    explicit Form1(Prompts& prompts, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence; the window is shown after it returns.
    void Form_Load();

    Services& services() { return *services_; }
    bool isBusy() const { return busy_.isBusy(); }
    // What closing the window during a command does; by default the program ends at once.
    void setQuitAction(std::function<void()> quit) { quitAction_ = std::move(quit); }
    // A drop of local files and folders on the list. Files named on the command line arrive here too,
    // so that they are listed exactly as a drop of them would be.
    void DropOnList(const QStringList& paths);

public slots:
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void connectOptionFields();
    void ApplySkin();
    void applyPointerRule(bool overButton);
    // Runs a command, counting it as under way so that closing the window meanwhile ends the program.
    void runCommand(const std::function<void()>& command);

    Prompts& prompts_;
    FileListView* ListView1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    std::array<QLabel*, 7> Label1{};
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QWidget* Picture1 = nullptr;
    ProgressBar* ProgressBar1 = nullptr;

    std::optional<QCursor> handPointer_;
    BusyState busy_;
    std::unique_ptr<FileList> files_;
    std::unique_ptr<NumberingOptions> options_;
    std::unique_ptr<Services> services_;
    int commandsUnderWay_ = 0;
    std::function<void()> quitAction_;
};
