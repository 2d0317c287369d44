#include "PageCount.h"

#include "CleanPdf.h"

#include <vector>

namespace {
using Kind = PdfValue::Kind;
// As deep as the numbering's own walk goes before it leaves a tree to qpdf.
constexpr size_t kDeepest = 256;
} // namespace

std::optional<size_t> CountPagesQuickly(std::string_view bytes) {
    try {
        CleanPdf pdf(bytes);
        const PdfValue* root = pdf.trailer().find("/Root");
        if (!root || !root->is(Kind::Reference))
            return std::nullopt;
        const PdfValue* top = pdf.resolve(*root).find("/Pages");
        if (!top || !top->is(Kind::Reference))
            return std::nullopt;
        // The same rules as numbering's walk: a node met twice, a kid whose /Parent is another node or
        // a leaf that is no page make the tree one that qpdf mends, and counts.
        struct Node {
            int number, generation, parent;
            size_t depth;
        };
        std::vector<char> seen(size_t(pdf.highestNumber()) + 1, 0);
        std::vector<Node> stack{{int(top->integer), top->generation, 0, 0}};
        size_t pages = 0;
        while (!stack.empty()) {
            const Node node = stack.back();
            stack.pop_back();
            const std::unique_ptr<PdfObject> object = pdf.read(node.number, node.generation);
            if (size_t(object->number) >= seen.size() || seen[size_t(object->number)])
                return std::nullopt;
            seen[size_t(object->number)] = 1;
            const PdfValue& dict = object->value;
            if (object->isStream || !dict.is(Kind::Dictionary))
                return std::nullopt;
            if (node.parent != 0) {
                const PdfValue* parent = dict.find("/Parent");
                if (!parent || !parent->is(Kind::Reference) || parent->integer != node.parent)
                    return std::nullopt;
            }
            const PdfValue* kids = dict.find("/Kids");
            const PdfValue* type = dict.find("/Type");
            if (!kids) {
                if (!type || !type->isName("/Page"))
                    return std::nullopt;
                ++pages;
                continue;
            }
            if (!type || !type->isName("/Pages") || node.depth >= kDeepest)
                return std::nullopt;
            const PdfValue& list = pdf.resolve(*kids);
            if (!list.is(Kind::Array))
                return std::nullopt;
            for (const PdfValue& kid : list.items) {
                if (!kid.is(Kind::Reference))
                    return std::nullopt;
                stack.push_back({int(kid.integer), kid.generation, object->number, node.depth + 1});
            }
        }
        if (pages == 0)
            return std::nullopt;
        return pages;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
