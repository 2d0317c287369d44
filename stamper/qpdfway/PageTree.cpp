#include "PageTree.h"

#include <qpdf/QPDFObjGen.hh>

#include <algorithm>
#include <array>
#include <set>
#include <tuple>
#include <vector>

namespace {

// Deeper than any real tree (a balanced tree of 16 kids per node holds every page there could be
// within 10 levels), and shallow enough for qpdf's own recursive walks.
constexpr size_t kMaxDepth = 256;
// What a page may take from the tree nodes above it.
const std::array<std::string, 4> kInheritable = {"/Resources", "/MediaBox", "/CropBox", "/Rotate"};
using Inherited = std::array<QPDFObjectHandle, 4>;
// Branches walked again because the tree lists them more than once.
constexpr size_t kMaxRevisits = 10000;
constexpr size_t kMaxPages = 1000000;

struct Found {
    QPDFObjectHandle page;
    Inherited inherited;
};

struct Frame {
    QPDFObjectHandle node;
    QPDFObjectHandle kids;
    int next = 0;
    int count = 0;
    size_t firstFound = 0;
    Inherited inherited;
};

Inherited inheritFrom(const Inherited& above, QPDFObjectHandle node) {
    Inherited result = above;
    for (size_t k = 0; k < kInheritable.size(); ++k)
        if (node.hasKey(kInheritable.at(k)))
            result.at(k) = node.getKey(kInheritable.at(k));
    return result;
}

class Walk {
public:
    explicit Walk(QPDF& pdf)
        : pdf_(pdf) {}

    // Lists the pages under `top` in tree order; notes every fault on the way.
    void run(QPDFObjectHandle top) {
        if (!top.isDictionary()) {
            fault("the catalog has no usable page tree");
            return;
        }
        if (!isNode(top)) {
            if (top.getKey("/Type").isNameAndEquals("/Page")) {
                fault("the page tree is a single page");
                addPage(top, Inherited{});
            } else {
                fault("the page tree has no pages");
            }
            return;
        }
        if (top.isIndirect())
            visited_.insert(top.getObjGen());
        push(top, Inherited{});
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            if (frame.next >= frame.count) {
                QPDFObjectHandle count = frame.node.getKey("/Count");
                const size_t below = found_.size() - frame.firstFound;
                if (!count.isInteger() || count.getIntValue() < 0 || size_t(count.getIntValue()) != below)
                    fault("page counts in the page tree don't add up (MuPDF follows the counts, poppler "
                          "and the PDF reference the kids; the copy has the pages the kids list)");
                if (frame.node.isIndirect())
                    onPath_.erase(frame.node.getObjGen());
                stack_.pop_back();
                continue;
            }
            QPDFObjectHandle kid = frame.kids.getArrayItem(frame.next++);
            // `frame` may move when a node is pushed.
            const Inherited above = frame.inherited;
            const QPDFObjectHandle node = frame.node;
            visit(kid, node, above);
        }
    }

    // Viewers show no more pages than the root's /Count, the first ones in tree order, whatever
    // its kids list beyond (a page listed several times); a /Count of 0 or above what is there is
    // not taken (they show no page or fail on the missing ones: the pages found are numbered).
    void limitToCount(QPDFObjectHandle top) {
        QPDFObjectHandle count = top.isDictionary() ? top.getKey("/Count") : QPDFObjectHandle::newNull();
        if (!count.isInteger() || count.getIntValue() <= 0 || size_t(count.getIntValue()) >= found_.size())
            return;
        fault("its /Count shows " + std::to_string(count.getIntValue()) + " of the " +
              std::to_string(found_.size()) + " pages its kids list, as viewers show it");
        found_.resize(size_t(count.getIntValue()));
    }

    std::vector<Found>& found() { return found_; }
    const std::string& faults() const { return faults_; }
    bool tooDeep() const { return depth_ > kMaxDepth; }

private:
    static bool isNode(QPDFObjectHandle dict) {
        return !dict.getKey("/Type").isNameAndEquals("/Page") &&
               (dict.getKey("/Kids").isArray() || dict.getKey("/Type").isNameAndEquals("/Pages"));
    }

    void push(QPDFObjectHandle node, const Inherited& above) {
        Frame frame;
        frame.node = node;
        frame.kids = node.getKey("/Kids");
        if (!frame.kids.isArray()) {
            fault("a page tree node has no list of kids");
            frame.kids = QPDFObjectHandle::newArray();
        }
        frame.count = frame.kids.getArrayNItems();
        frame.firstFound = found_.size();
        frame.inherited = inheritFrom(above, node);
        if (node.isIndirect())
            onPath_.insert(node.getObjGen());
        stack_.push_back(frame);
        depth_ = std::max(depth_, stack_.size());
    }

    void visit(QPDFObjectHandle kid, QPDFObjectHandle node, const Inherited& above) {
        if (!kid.isDictionary()) {
            fault("the page tree holds something that is not a page");
            return;
        }
        // Viewers that inherit along /Parent and those that inherit along the tree would show such a
        // page differently; the flat tree gives it what the tree hands down, as poppler shows it.
        QPDFObjectHandle parent = kid.getKey("/Parent");
        if (!parent.isIndirect() || !node.isIndirect() || parent.getObjGen() != node.getObjGen())
            fault("a page's /Parent is not the node that lists it");
        if (isNode(kid)) {
            // A branch that leads back to itself is left out; one listed twice (not a loop) shows its
            // pages twice in a viewer, and so it does here, within a bound that stops a tree built to
            // multiply its pages.
            if (kid.isIndirect() && onPath_.count(kid.getObjGen())) {
                fault("the page tree loops");
                return;
            }
            if (kid.isIndirect() && !visited_.insert(kid.getObjGen()).second) {
                fault("the page tree lists a branch twice");
                if (++revisits_ > kMaxRevisits || found_.size() > kMaxPages) {
                    fault("too many repeated branches");
                    return;
                }
            }
            push(kid, above);
            return;
        }
        QPDFObjectHandle type = kid.getKey("/Type");
        if (!type.isNull() && !type.isNameAndEquals("/Page")) {
            fault("the page tree holds something that is not a page");
            return;
        }
        addPage(kid, above);
    }

    void addPage(QPDFObjectHandle page, const Inherited& above) {
        // Viewers take a /Page with kids for a page; qpdf would take it for a node.
        if (page.hasKey("/Kids"))
            fault("a page has a list of kids");
        if (!page.isIndirect()) {
            fault("a page is not an object of its own");
            page = pdf_.makeIndirectObject(page);
        } else if (!pages_.insert(page.getObjGen()).second) {
            // Shown twice by viewers, and numbered twice: the second place gets a page of its own.
            fault("the page tree lists a page twice");
            page = pdf_.makeIndirectObject(page.shallowCopy());
        }
        found_.push_back({page, inheritFrom(above, page)});
    }

    void fault(const std::string& what) {
        if (faults_.find(what) != std::string::npos)
            return;
        if (!faults_.empty())
            faults_ += "; ";
        faults_ += what;
    }

    QPDF& pdf_;
    std::vector<Frame> stack_;
    std::set<QPDFObjGen> visited_, onPath_, pages_;
    size_t revisits_ = 0;
    std::vector<Found> found_;
    std::string faults_;
    size_t depth_ = 0;
};

// What a page found outside the tree takes from the nodes its /Parent chain still reaches.
Inherited inheritAlongParents(QPDFObjectHandle page) {
    Inherited result;
    std::vector<QPDFObjectHandle> chain;
    std::set<QPDFObjGen> seen;
    for (QPDFObjectHandle node = page.getKey("/Parent"); node.isDictionary() && chain.size() < 100000;
         node = node.getKey("/Parent")) {
        if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
            break;
        chain.push_back(node);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        result = inheritFrom(result, *it);
    return inheritFrom(result, page);
}

// Every object of type /Page in the file, in the order they are stored: the order viewers use when
// they have no tree to follow, and the order producers write pages in.
std::vector<Found> pagesInFile(QPDF& pdf) {
    std::map<QPDFObjGen, QPDFXRefEntry> table = pdf.getXRefTable();
    std::vector<std::tuple<long long, int, QPDFObjGen>> order;
    for (auto& [og, entry] : table) {
        if (entry.getType() == 1) {
            order.emplace_back(entry.getOffset(), 0, og);
        } else if (entry.getType() == 2) {
            auto stream = table.find(QPDFObjGen(entry.getObjStreamNumber(), 0));
            long long at = stream != table.end() && stream->second.getType() == 1 ? stream->second.getOffset()
                                                                                  : (1LL << 62);
            order.emplace_back(at, entry.getObjStreamIndex() + 1, og);
        }
    }
    std::sort(order.begin(), order.end());
    std::vector<Found> found;
    for (auto& [at, index, og] : order) {
        try {
            QPDFObjectHandle object = pdf.getObject(og);
            if (object.isDictionaryOfType("/Page"))
                found.push_back({object, inheritAlongParents(object)});
        } catch (std::exception&) {
            // an object too damaged to read is no page a viewer shows
        }
    }
    return found;
}

void writeFlatTree(QPDF& pdf, std::vector<Found>& pages) {
    QPDFObjectHandle node = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    QPDFObjectHandle kids = QPDFObjectHandle::newArray();
    for (auto& found : pages) {
        for (size_t k = 0; k < kInheritable.size(); ++k)
            if (!found.page.hasKey(kInheritable.at(k)) && found.inherited.at(k).isInitialized() &&
                !found.inherited.at(k).isNull())
                found.page.replaceKey(kInheritable.at(k), found.inherited.at(k));
        found.page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        found.page.removeKey("/Kids");
        found.page.replaceKey("/Parent", node);
        kids.appendItem(found.page);
    }
    node.replaceKey("/Type", QPDFObjectHandle::newName("/Pages"));
    node.replaceKey("/Kids", kids);
    node.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(pages.size())));
    pdf.getRoot().replaceKey("/Pages", node);
}

} // namespace

PageTreeRepair MendPageTree(QPDF& pdf) {
    PageTreeRepair repair;
    Walk walk(pdf);
    walk.run(pdf.getRoot().getKey("/Pages"));
    walk.limitToCount(pdf.getRoot().getKey("/Pages"));
    std::vector<Found>* pages = &walk.found();
    std::vector<Found> inFile;
    repair.reason = walk.faults();
    if (walk.tooDeep()) {
        repair.reason += repair.reason.empty() ? "" : "; ";
        repair.reason += "the page tree is too deep";
    }
    // Pages outside the tree are listed only for a catalog that names a tree (be it missing or
    // broken): without one, no viewer shows pages, and scraps of a mangled file are no document.
    QPDFObjectHandle named = pdf.getRoot().getKey("/Pages");
    if (pages->empty() && (named.isIndirect() || !named.isNull())) {
        inFile = pagesInFile(pdf);
        if (inFile.empty())
            return repair; // nothing a viewer could show
        pages = &inFile;
        repair.reason += repair.reason.empty() ? "" : "; ";
        repair.reason += "its pages were found outside the page tree";
    }
    if (repair.reason.empty())
        return repair;
    writeFlatTree(pdf, *pages);
    repair.mended = true;
    return repair;
}
