#pragma once
// The viewer loop: a generated file numbered both ways (the tool as it runs, and through qpdf
// alone) and each copy judged by poppler and MuPDF against the input. What it finds:
//   wrong copy   the tool ended with exit 0 and a viewer shows the copy wrong
//   warned       the same, but the tool warned that the viewers disagree there
//   viewers disagree  the same, where poppler and MuPDF count the input's pages differently
//   refusal      the tool refused (exit 1 with its reason) a file both viewers show
//   crash, hang  the tool ended by a signal, without a reason, or ran past its time
// A finding's recipe is reduced by taking out what it can do without, keeping the same fault.

#include "ContentGenerator.h"
#include "ViewerJudge.h"

#include <QList>
#include <QString>

enum class Way { Tool, QpdfOnly };
const char* WayName(Way way);

struct Finding {
    QString category; // see above
    Way way = Way::Tool;
    QString poppler, mupdf; // each viewer's fault ("number missing", ...), empty: none
    QString detail;         // where, and the tool's message
    // The same fault: a reduced recipe must keep it.
    QString signature() const;
};

class ViewerLoop {
public:
    // `tool`: mbtPdfAsm.exe; `self`: a program that numbers through qpdf alone when given
    // "--qpdf-only" and the tool's arguments; `work`: a folder for the files of one judgement.
    ViewerLoop(QString tool, QString self, QString work, int dpi = 72);

    // Numbers `pdf` each of `ways` and judges the copies; empty when all is well.
    QList<Finding> judge(const QByteArray& pdf, const QList<Way>& ways = {Way::Tool, Way::QpdfOnly});

    // Takes out of `recipe` the pieces and features that `finding` does without, at most
    // `attempts` judgements.
    Recipe reduce(const Recipe& recipe, const Finding& finding, int attempts = 80);

    int judgements() const { return judgements_; }

private:
    QString tool_, self_, work_;
    int dpi_;
    int judgements_ = 0;
};

// The tool's normal arguments for IN and OUT: the default number (page number, black, 10 pt, 10 pt
// from the left and bottom).
QStringList ToolArguments(const QString& in, const QString& out);
