#include "PageStamper.h"

#include "PageContentScans.h"
#include "ViewerDisagreement.h"

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageLabelDocumentHelper.hh>

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

PageStamper::PageStamper(QPDF& pdf, const StampOptions& options)
    : pdf_(pdf)
    , options_(options)
    , drawing_(options, isTagged(pdf)) {}

bool PageStamper::isTagged(QPDF& pdf) {
    QPDFObjectHandle markInfo = pdf.getRoot().getKey("/MarkInfo");
    return markInfo.isDictionary() && markInfo.getKey("/Marked").isBool() &&
           markInfo.getKey("/Marked").getBoolValue();
}

size_t PageStamper::stampAll() {
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf_).getAllPages();
    std::vector<QPDFObjectHandle> contents;
    contents.reserve(pages.size());
    for (size_t k = 0; k < pages.size(); ++k) {
        QPDFObjectHandle page = pages[k].getObjectHandle();
        if (!page.isDictionary())
            throw std::runtime_error("page " + std::to_string(k + 1) + " is damaged beyond repair");
        contents.push_back(page.getKey("/Contents"));
    }
    PageContentScans scans(contents);
    drawing_.setPageCount(pages.size());

    // The first new object makes qpdf read every object of the file; the scans go on meanwhile.
    if (const FontSubset* embedded = drawing_.embeddedFont())
        font_ = addEmbeddedFont(*embedded);
    else
        font_ = pdf_.makeIndirectObject(QPDFObjectHandle::parse(NumberDrawing::kFontDictionary));
    openSave_ = pdf_.newStream("q\n");
    long long n = options_.firstNumber;
    std::string content;
    for (size_t k = 0; k < pages.size(); ++k) {
        bool tooLarge = false;
        ContentScan scan = scans.scanOf(k, &content, &tooLarge);
        // A page without a number is left as it is, its dictionary too.
        if (drawing_.numbers(k))
            stampPage(pages[k], n++, k, scan, content, tooLarge);
    }
    if (options_.pageLabels)
        writePageLabels(pages.size());
    return pages.size();
}

// The embedded font's objects, numbered first so that their dictionaries can name each other.
QPDFObjectHandle PageStamper::addEmbeddedFont(const FontSubset& font) {
    std::vector<QPDFObjectHandle> handles;
    std::vector<int> numbers;
    for (int k = 0; k < FontSubset::kObjectCount; ++k) {
        handles.push_back(k >= FontSubset::kFirstStream
                              ? pdf_.newStream()
                              : pdf_.makeIndirectObject(QPDFObjectHandle::newNull()));
        numbers.push_back(handles.back().getObjectID());
    }
    const std::vector<FontSubset::Object> objects = font.objects(numbers);
    for (size_t k = 0; k < objects.size(); ++k) {
        QPDFObjectHandle dictionary = QPDFObjectHandle::parse(&pdf_, objects[k].dictionary);
        if (!objects[k].streamData) {
            pdf_.replaceObject(handles[k].getObjGen(), dictionary);
            continue;
        }
        const QPDFObjectHandle filter = dictionary.getKey("/Filter");
        handles[k].replaceDict(dictionary);
        handles[k].replaceStreamData(*objects[k].streamData, filter, QPDFObjectHandle::newNull());
    }
    return pdf_.getObjectByID(numbers[0], 0);
}

// The catalog's /PageLabels: each numbered page labelled with its text, the others with the label
// they had (qpdf reads the input's number tree, whatever its shape).
void PageStamper::writePageLabels(size_t pages) {
    QPDFPageLabelDocumentHelper labels(pdf_);
    const bool had = labels.hasPageLabels();
    const std::string tree = PageLabelTree(drawing_.labelPages(pages, [&](size_t k, PageLabelPage& page) {
        if (!had)
            return;
        QPDFObjectHandle label = labels.getLabelForPage((long long)k);
        if (!label.isDictionary())
            return;
        std::string entries;
        for (const char* key : {"/S", "/P"})
            if (label.hasKey(key) && !label.getKey(key).isNull())
                entries += (entries.empty() ? "" : " ") + std::string(key) + " " + label.getKey(key).unparseResolved();
        page.original = entries;
        page.originalStart = label.getKey("/St").isInteger() ? label.getKey("/St").getIntValue() : 1;
    }));
    pdf_.getRoot().replaceKey("/PageLabels", QPDFObjectHandle::parse(tree));
}

// A box or rotation that reads as absent (null, or a reference to null or to a missing object)
// where the page or the nearest node above gives one is written into the page as the value it
// stands for: qpdf and poppler take the inherited one, MuPDF a default; given outright, every viewer
// shows the same page.
void PageStamper::stateAbsentValues(QPDFPageObjectHelper& page, size_t index) {
    QPDFObjectHandle dict = page.getObjectHandle();
    for (const char* key : {"/MediaBox", "/CropBox", "/Rotate"}) {
        // The nearest node along /Parent that has the key at all, null or not.
        std::set<QPDFObjGen> seen;
        QPDFObjectHandle node = dict;
        bool shadowed = false;
        while (node.isDictionary()) {
            std::map<std::string, QPDFObjectHandle> entries = node.getDictAsMap();
            if (auto it = entries.find(key); it != entries.end()) {
                shadowed = it->second.isNull();
                break;
            }
            if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
                break;
            QPDFObjectHandle parent = node.getKey("/Parent");
            if (!parent.isDictionary())
                break;
            node = parent;
        }
        if (!shadowed)
            continue;
        QPDFObjectHandle value = page.getAttribute(key, false);
        if (value.isNull() && std::string(key) == "/CropBox")
            value = page.getAttribute("/MediaBox", false);
        if (value.isNull())
            value = std::string(key) == "/Rotate" ? QPDFObjectHandle::newInteger(0)
                                                  : QPDFObjectHandle::parse("[0 0 612 792]");
        dict.replaceKey(key, value);
        warnings_.push_back(AbsentValueWarning(key, index));
    }
}

void PageStamper::stateDisagreements(QPDFPageObjectHelper& page, size_t index) {
    QPDFObjectHandle dict = page.getObjectHandle();
    QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
    if (rotate.isNumber())
        if (auto stated = RotationViewersDisagreeOn(rotate.isInteger(), rotate.getNumericValue(), index)) {
            dict.replaceKey("/Rotate", QPDFObjectHandle::newInteger(stated->value));
            if (!stated->warning.empty())
                warnings_.push_back(stated->warning);
        }
    // Resources given as null over a node's: the copy's page gets the node's (addFont).
    if (auto entries = dict.getDictAsMap(); entries.count("/Resources") && entries["/Resources"].isNull() &&
                                            !page.getAttribute("/Resources", false).isNull())
        warnings_.push_back(AbsentValueWarning("/Resources", index));
    QPDFObjectHandle group = dict.getKey("/Group");
    if (group.isDictionary() && group.getKey("/S").isNameAndEquals("/Transparency") &&
        group.getKey("/CS").isNameAndEquals("/DeviceGray"))
        warnings_.push_back(GreyPageGroupWarning(index));
}

std::string PageStamper::addFont(QPDFPageObjectHelper& page) {
    QPDFObjectHandle page_dict = page.getObjectHandle();
    QPDFObjectHandle resources = page.getAttribute("/Resources", false);
    if (resources.isStream()) {
        // Resources given as a stream: its dictionary stands for them, as MuPDF reads it (poppler
        // finds no resources there and draws the page without its fonts and images).
        resources = resources.getDict().shallowCopy();
        for (const char* key : {"/Length", "/Filter", "/DecodeParms"})
            resources.removeKey(key);
        page_dict.replaceKey("/Resources", resources);
    } else {
        resources = page.getAttribute("/Resources", true);
    }
    if (!resources.isDictionary()) {
        resources = QPDFObjectHandle::newDictionary();
        page_dict.replaceKey("/Resources", resources);
    }
    QPDFObjectHandle fonts = resources.getKey("/Font");
    // A damaged file's /Font may be the page itself (or another page): no fonts to keep, and a copy
    // of it would tie the page to itself in ways qpdf's writer follows without end.
    if (fonts.isDictionaryOfType("/Page") || fonts.isDictionaryOfType("/Pages"))
        fonts = QPDFObjectHandle::newNull();
    // Another page (or the resources we were copied from) may hold the same font dictionary.
    fonts = fonts.isDictionary() ? fonts.unsafeShallowCopy() : QPDFObjectHandle::newDictionary();
    resources.replaceKey("/Font", fonts);
    const std::string name =
        NumberDrawing::freeFontName([&](const std::string& n) { return fonts.hasKey(n); });
    fonts.replaceKey(name, font_);
    return name;
}

// Content that ends inside a token (a string, an array, an inline image without its EI...) would
// swallow a number drawn after it, and content that can't be decoded to its end stops MuPDF: it ends
// all of a page's content at the first stream it fails to read, so no number appended to the page's
// content list would show there. Closing what was left open can't be done for every such ending
// (an inline image's data may go on into whatever follows), and drawing the number first would put
// it under the page's own content. So the page's content becomes a form XObject, which viewers read
// as content of its own: what goes wrong inside it ends there, and the page's own content, now
// just "draw that form, then the number", shows the number on top in both poppler and MuPDF.
//
// A single stream is copied as it is stored, filters and all, so that each viewer decodes it (and
// fails on it) exactly as before. Several streams are joined decoded, since a token or a text object
// may run from one into the next; the damaged one then ends where qpdf's decoding of it ended.
std::string PageStamper::addContentForm(QPDFPageObjectHelper& page,
                                        const std::vector<QPDFObjectHandle>& streams,
                                        const std::string& content, bool tooLarge) {
    QPDFObjectHandle form;
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    if (streams.size() == 1) {
        form = QPDFObjectHandle(streams[0]).copyStream();
        // Only the keys that say how the data is stored: a content stream's dictionary may hold keys
        // (a /Matrix, say) that would mean something in a form's.
        QPDFObjectHandle stored = QPDFObjectHandle(streams[0]).getDict();
        for (const char* key : {"/Filter", "/DecodeParms"})
            if (stored.hasKey(key))
                dict.replaceKey(key, stored.getKey(key));
    } else if (!tooLarge) {
        form = pdf_.newStream(content);
    } else {
        return {};
    }
    // Everything visible on the page, with a margin: a box taken from a damaged page may be off.
    const PageGeometry g = PageGeometry::of(page);
    const double w = g.urx - g.llx, h = g.ury - g.lly;
    QPDFObjectHandle bbox = QPDFObjectHandle::newArray();
    for (double v : {g.llx - w, g.lly - h, g.urx + w, g.ury + h})
        bbox.appendItem(QPDFObjectHandle::newReal(v, 2, true));
    QPDFObjectHandle resources = page.getObjectHandle().getKey("/Resources");
    if (!resources.isDictionary()) {
        resources = QPDFObjectHandle::newDictionary();
        page.getObjectHandle().replaceKey("/Resources", resources);
    }
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    dict.replaceKey("/BBox", bbox);
    dict.replaceKey("/Resources", resources.isIndirect() ? resources : resources.shallowCopy());
    form.replaceDict(dict);

    // Named in resources of the page's own: other pages may share its resources object.
    if (resources.isIndirect()) {
        resources = resources.unsafeShallowCopy();
        page.getObjectHandle().replaceKey("/Resources", resources);
    }
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    xobjects = xobjects.isDictionary() ? xobjects.unsafeShallowCopy() : QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    std::string name = "/NbX";
    for (int k = 1; xobjects.hasKey(name); ++k)
        name = "/NbX" + std::to_string(k);
    xobjects.replaceKey(name, form);
    pointStructureAtForm(page, form);
    return name;
}

// A tagged page's marked content, now inside the form, stays in the structure: the form takes the
// page's entry in the parent tree, and every reference to a marked-content sequence on the page
// becomes one that names the form's stream as well.
void PageStamper::pointStructureAtForm(QPDFPageObjectHelper& page, QPDFObjectHandle form) {
    QPDFObjectHandle root = pdf_.getRoot().getKey("/StructTreeRoot");
    if (!root.isDictionary())
        return;
    QPDFObjectHandle pageDict = page.getObjectHandle();
    if (QPDFObjectHandle key = pageDict.getKey("/StructParents"); key.isInteger())
        form.getDict().replaceKey("/StructParents", key);
    if (!pageDict.isIndirect())
        return;
    const QPDFObjGen pageId = pageDict.getObjGen();
    auto onPage = [&](QPDFObjectHandle pg) { return pg.isIndirect() && pg.getObjGen() == pageId; };
    auto reference = [&](long long mcid) {
        QPDFObjectHandle mcr = QPDFObjectHandle::newDictionary();
        mcr.replaceKey("/Type", QPDFObjectHandle::newName("/MCR"));
        mcr.replaceKey("/Pg", pageDict);
        mcr.replaceKey("/Stm", form);
        mcr.replaceKey("/MCID", QPDFObjectHandle::newInteger(mcid));
        return mcr;
    };
    std::set<QPDFObjGen> seen;
    size_t visited = 0;
    // A kid of an element: the replacement, or null when it stays as it is.
    std::function<void(QPDFObjectHandle, QPDFObjectHandle, int)> walk;
    auto kid = [&](QPDFObjectHandle item, QPDFObjectHandle pg, int depth) -> QPDFObjectHandle {
        if (item.isInteger())
            return onPage(pg) ? reference(item.getIntValue()) : QPDFObjectHandle::newNull();
        if (!item.isDictionary())
            return QPDFObjectHandle::newNull();
        if (item.getKey("/Type").isNameAndEquals("/MCR")) {
            QPDFObjectHandle itemPage = item.hasKey("/Pg") ? item.getKey("/Pg") : pg;
            if (onPage(itemPage) && !item.hasKey("/Stm") && item.getKey("/MCID").isInteger())
                return reference(item.getKey("/MCID").getIntValue());
            return QPDFObjectHandle::newNull();
        }
        if (!item.getKey("/Type").isNameAndEquals("/OBJR"))
            walk(item, pg, depth + 1);
        return QPDFObjectHandle::newNull();
    };
    // The indirect object the element being walked is written in.
    QPDFObjectHandle holder;
    walk = [&](QPDFObjectHandle element, QPDFObjectHandle pg, int depth) {
        if (depth > 256 || ++visited > 1000000 || !element.isDictionary())
            return;
        if (element.isIndirect() && !seen.insert(element.getObjGen()).second)
            return;
        QPDFObjectHandle outer = holder;
        if (element.isIndirect())
            holder = element;
        if (element.hasKey("/Pg"))
            pg = element.getKey("/Pg");
        QPDFObjectHandle k = element.getKey("/K");
        bool changed = false;
        if (k.isArray()) {
            for (int i = 0; i < k.getArrayNItems(); ++i)
                if (QPDFObjectHandle r = kid(k.getArrayItem(i), pg, depth); !r.isNull()) {
                    k.setArrayItem(i, r);
                    changed = true;
                }
        } else if (QPDFObjectHandle r = kid(k, pg, depth); !r.isNull()) {
            element.replaceKey("/K", r);
            changed = true;
        }
        // An indirect /K array is an object of its own.
        if (changed)
            changed_.push_back(k.isArray() && k.isIndirect() ? k : holder);
        holder = outer;
    };
    walk(root, QPDFObjectHandle::newNull(), 0);
}

void PageStamper::stampPage(QPDFPageObjectHelper& page, long long value, size_t index,
                            const ContentScan& scan, std::string& content, bool tooLarge) {
    QPDFObjectHandle page_dict = page.getObjectHandle();
    QPDFObjectHandle contents = page_dict.getKey("/Contents");
    const std::vector<QPDFObjectHandle> streams = ContentStreams(contents);

    stateAbsentValues(page, index + 1);
    stateDisagreements(page, index + 1);
    std::string fontName = addFont(page);
    const std::string number = drawing_.draw(PageGeometry::of(page), fontName, value, index);

    // The page gets a /Contents array of its own; the streams it had stay untouched, so pages that
    // share them keep what they showed.
    QPDFObjectHandle list = QPDFObjectHandle::newArray();
    if (!scan.vouched() && !streams.empty()) {
        const std::string form = addContentForm(page, streams, content, tooLarge);
        if (!form.empty()) {
            list.appendItem(
                pdf_.newStream("q " + form + " Do Q\n" + NumberDrawing::closingMarks(scan) + number));
        } else {
            // Too large to join: the number goes first, and the page's content is drawn after it.
            list.appendItem(pdf_.newStream(number));
            for (auto& s : streams)
                list.appendItem(s);
        }
    } else {
        // Content the scan vouched for restores nothing it did not save, so our q holds around it.
        list.appendItem(openSave_);
        for (auto& s : streams)
            list.appendItem(s);
        list.appendItem(pdf_.newStream(NumberDrawing::closing(scan) + number));
    }
    page_dict.replaceKey("/Contents", list);
}
