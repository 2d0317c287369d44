#include "CopyWithoutNumber.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

bool WriteCopyWithoutNumber(const QString& numbered, const QString& path) {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile(numbered.toLocal8Bit().constData());
        for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            auto contents = page.getObjectHandle().getKey("/Contents");
            if (!contents.isArray() || contents.getArrayNItems() < 2)
                return false;
            contents.eraseItem(contents.getArrayNItems() - 1);
        }
        QPDFWriter w(pdf, path.toLocal8Bit().constData());
        w.write();
        return true;
    } catch (std::exception&) {
        return false;
    }
}
