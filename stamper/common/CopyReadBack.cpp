#include "CopyReadBack.h"

#include "ViewerDisagreement.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cmath>
#include <cstdio>
#include <functional>
#include <set>
#include <vector>

namespace {

constexpr int kMaxDepth = 24;

// A value with every reference followed, object numbers left out. Another page met on the way (an
// annotation's destination) is named only: its own content and resources are the number's to change.
class Canonical {
public:
    std::string of(QPDFObjectHandle h, int depth = 0) {
        if (depth > kMaxDepth)
            return "<deep>";
        const bool indirect = h.isIndirect();
        const QPDFObjGen og = h.getObjGen();
        if (indirect && !path_.insert(og).second)
            return "<loop>";
        std::string out = direct(h, depth);
        if (indirect)
            path_.erase(og);
        return out;
    }

private:
    std::string direct(QPDFObjectHandle h, int depth) {
        if (h.isNull())
            return "null";
        if (h.isBool())
            return h.getBoolValue() ? "true" : "false";
        if (h.isInteger() || h.isReal()) {
            char text[64];
            std::snprintf(text, sizeof text, "%.6g", h.getNumericValue());
            return text;
        }
        if (h.isName())
            return h.getName();
        if (h.isString())
            return "(" + std::to_string(std::hash<std::string>()(h.getStringValue())) + ")";
        if (h.isArray()) {
            std::string out = "[";
            for (auto& item : h.getArrayAsVector())
                out += of(item, depth + 1) + " ";
            return out + "]";
        }
        if (h.isStream()) {
            QPDFObjectHandle dict = h.getDict().shallowCopy();
            dict.removeKey("/Length");
            std::string data;
            try {
                std::shared_ptr<Buffer> b = h.getRawStreamData();
                data.assign(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
            } catch (std::exception&) {
                data = "<unreadable>";
            }
            return "stream" + of(dict, depth + 1) + "#" + std::to_string(data.size()) + ":" +
                   std::to_string(std::hash<std::string>()(data));
        }
        if (h.isDictionary()) {
            if (depth > 0 && h.isDictionaryOfType("/Page"))
                return "<page>";
            std::string out = "<<";
            for (auto& [key, value] : h.getDictAsMap()) {
                if (key == "/Parent" || value.isNull())
                    continue;
                out += key + " " + of(value, depth + 1) + " ";
            }
            return out + ">>";
        }
        return std::string("<") + h.getTypeName() + ">";
    }

    std::set<QPDFObjGen> path_;
};

// Resources as a dictionary (a stream's dictionary stands for them, as MuPDF reads it).
QPDFObjectHandle resourcesOf(QPDFPageObjectHelper& page) {
    QPDFObjectHandle r = page.getAttribute("/Resources", false);
    if (r.isStream()) {
        r = r.getDict().shallowCopy();
        for (const char* key : {"/Length", "/Filter", "/DecodeParms"})
            r.removeKey(key);
    }
    return r.isDictionary() ? r : QPDFObjectHandle::newDictionary();
}

int rotationOf(QPDFObjectHandle rotate) {
    if (!rotate.isNumber())
        return 0;
    if (auto stated = RotationViewersDisagreeOn(rotate.isInteger(), rotate.getNumericValue(), 0))
        return stated->value;
    const long long r = rotate.getIntValue() % 360;
    return int(r < 0 ? r + 360 : r);
}

std::string comparePage(QPDFPageObjectHelper& in, QPDFPageObjectHelper& out) {
    Canonical ci, co;
    for (const char* key : {"/MediaBox", "/CropBox"}) {
        QPDFObjectHandle a = in.getAttribute(key, false);
        if (a.isNull())
            continue; // none given: the copy may state the default
        const std::string va = ci.of(a), vb = co.of(out.getAttribute(key, false));
        if (va != vb)
            return std::string(key) + " " + va.substr(0, 200) + " became " + vb.substr(0, 200);
    }
    if (rotationOf(in.getAttribute("/Rotate", false)) != rotationOf(out.getAttribute("/Rotate", false)))
        return "/Rotate changed";
    // The input's resources, each kept: the copy's may hold more (the number's font and form).
    QPDFObjectHandle ri = resourcesOf(in), ro = resourcesOf(out);
    for (auto& [category, value] : ri.getDictAsMap()) {
        if (value.isNull())
            continue;
        QPDFObjectHandle kept = ro.getKey(category);
        if (value.isDictionary() && kept.isDictionary()) {
            for (auto& [name, item] : value.getDictAsMap())
                if (!item.isNull() && ci.of(item, 1) != co.of(kept.getKey(name), 1))
                    return "resource " + category + " " + name + " changed";
        } else if (ci.of(value, 1) != co.of(kept, 1)) {
            return "resources " + category + " changed";
        }
    }
    QPDFObjectHandle di = in.getObjectHandle().shallowCopy(), dout = out.getObjectHandle().shallowCopy();
    for (const char* key :
         {"/Contents", "/Resources", "/MediaBox", "/CropBox", "/Rotate", "/Type", "/Kids"}) {
        di.removeKey(key);
        dout.removeKey(key);
    }
    const std::string va = ci.of(di), vb = co.of(dout);
    if (va != vb)
        return "its entries " + va.substr(0, 200) + " became " + vb.substr(0, 200);
    return {};
}

} // namespace

std::string CompareCopyWithInput(QPDF& input, QPDF& copy, const std::vector<QPDFObjGen>& pages,
                                 size_t maxPages) {
    QPDFObjectHandle ti = input.getRoot().getKey("/Pages"), to = copy.getRoot().getKey("/Pages");
    if (ti.getObjGen() != to.getObjGen() || !to.isDictionary())
        return "the copy's page tree is not the input's";
    if (Canonical().of(ti.getKey("/Count")) != Canonical().of(to.getKey("/Count")))
        return "the copy's page count is not the input's";
    const size_t n = pages.size();
    for (size_t k = 0; k < n; ++k) {
        if (k == maxPages / 2 && k + maxPages / 2 < n)
            k = n - maxPages / 2;
        QPDFPageObjectHelper in(input.getObject(pages[k])), out(copy.getObject(pages[k]));
        if (!in.getObjectHandle().isDictionary())
            continue;
        std::string difference;
        if (!out.getObjectHandle().isDictionary() || in.getObjectHandle().getKey("/Parent").getObjGen() !=
                                                         out.getObjectHandle().getKey("/Parent").getObjGen())
            difference = "it is no longer where the input has it";
        else
            difference = comparePage(in, out);
        if (!difference.empty())
            return "page " + std::to_string(k + 1) + ": " + difference;
    }
    return {};
}
