#include "CopyCompare.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cstdio>
#include <functional>
#include <set>
#include <vector>

namespace {

constexpr int kMaxDepth = 24;

std::string number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string dataOf(QPDFObjectHandle stream, bool decoded) {
    std::shared_ptr<Buffer> data;
    try {
        data = decoded ? stream.getStreamData(qpdf_dl_generalized) : stream.getRawStreamData();
    } catch (std::exception&) {
        // (qpdf's message names the object, whose number a rewrite changes)
        return "<undecodable>";
    }
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

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
        if (h.isInteger() || h.isReal())
            return number(h.getNumericValue());
        if (h.isName())
            return h.getName();
        if (h.isString())
            return "<" + hex(h.getStringValue()) + ">";
        if (h.isArray()) {
            std::string out = "[";
            for (auto& item : h.getArrayAsVector())
                out += of(item, depth + 1) + " ";
            return out + "]";
        }
        if (h.isStream()) {
            QPDFObjectHandle dict = h.getDict().shallowCopy();
            dict.removeKey("/Length");
            const std::string data = dataOf(h, false);
            return "stream" + of(dict, depth + 1) + "#" + std::to_string(data.size()) + ":" +
                   std::to_string(std::hash<std::string>()(data));
        }
        if (h.isDictionary()) {
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

// The page's own value of an inheritable key or the nearest node's above it.
QPDFObjectHandle attribute(QPDFPageObjectHelper& page, const std::string& key) {
    return page.getAttribute(key, false);
}

std::string content(QPDFObjectHandle page, std::string* last) {
    std::vector<QPDFObjectHandle> streams;
    QPDFObjectHandle contents = page.getKey("/Contents");
    if (contents.isStream())
        streams.push_back(contents);
    else if (contents.isArray())
        for (auto& item : contents.getArrayAsVector())
            streams.push_back(item);
    std::string out;
    for (auto& s : streams) {
        const std::string data = s.isStream() ? dataOf(s, true) : "<no stream>";
        out += data + "\n";
        *last = data;
    }
    return out;
}

} // namespace

std::string CompareNumberedCopies(QPDF& a, QPDF& b, size_t maxPages) {
    std::vector<QPDFPageObjectHelper> pa = QPDFPageDocumentHelper(a).getAllPages();
    std::vector<QPDFPageObjectHelper> pb = QPDFPageDocumentHelper(b).getAllPages();
    if (pa.size() != pb.size())
        return "page counts " + std::to_string(pa.size()) + " and " + std::to_string(pb.size());
    for (size_t k = 0; k < pa.size(); ++k) {
        if (pa.size() > maxPages && k >= maxPages / 2 && k + maxPages / 2 < pa.size())
            continue;
        const std::string where = "page " + std::to_string(k + 1) + ": ";
        Canonical ca, cb;
        for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"}) {
            const std::string va = ca.of(attribute(pa[k], key)), vb = cb.of(attribute(pb[k], key));
            if (va != vb)
                return where + key + " " + va.substr(0, 300) + " against " + vb.substr(0, 300);
        }
        QPDFObjectHandle da = pa[k].getObjectHandle().shallowCopy(), db = pb[k].getObjectHandle().shallowCopy();
        for (const char* key : {"/Contents", "/Resources", "/MediaBox", "/CropBox", "/Rotate", "/Type"}) {
            da.removeKey(key);
            db.removeKey(key);
        }
        const std::string va = ca.of(da), vb = cb.of(db);
        if (va != vb)
            return where + "entries " + va.substr(0, 300) + " against " + vb.substr(0, 300);
        std::string lastA, lastB;
        const std::string ta = content(pa[k].getObjectHandle(), &lastA),
                          tb = content(pb[k].getObjectHandle(), &lastB);
        if (lastA != lastB)
            return where + "the number's stream\n" + lastA.substr(0, 400) + "\nagainst\n" + lastB.substr(0, 400);
        if (ta != tb)
            return where + "the content (" + std::to_string(ta.size()) + " and " + std::to_string(tb.size()) +
                   " bytes)";
    }
    return {};
}
