#pragma once
// What the window's commands need from the main window. Form1 hands this to each command, so a
// command reads like its step table and a test can call it without clicking.

class QWidget;
class Prompts;
class BusyState;
class FileList;
class NumberingOptions;
class ProgressBar;

struct Services {
    QWidget* window;
    Prompts& prompts;
    BusyState& busy;
    FileList& files;
    NumberingOptions& options;
    ProgressBar& progress;
};
