// Verbal tables: the AVL tree built from sorted entries, lookups in unsigned
// order, and name resolution.
#include "display/config/broken_files.h"
#include "display/config/display_xml_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using namespace broken;

namespace {

// Height of the subtree; checks balance, the AVL rule and parent links.
int checkedHeight(const vtab_node_s* n, const vtab_node_s* parent, std::vector<uint32_t>& inorder) {
    if (!n) return 0;
    EXPECT_EQ(n->parent, parent);
    int l = checkedHeight(n->left, n, inorder);
    inorder.push_back(uint32_t(n->num));
    int r = checkedHeight(n->right, n, inorder);
    EXPECT_EQ(n->balance, r - l) << n->num;
    EXPECT_LE(std::abs(r - l), 1) << n->num;
    return 1 + std::max(l, r);
}

std::string table(const std::string& name, const std::string& def, const std::vector<std::pair<int64_t, std::string>>& e) {
    std::string s = "<VerbTab name=\"" + name + "\" default=\"" + def + "\">";
    for (auto& [num, str] : e) s += "<Tab str=\"" + str + "\" num=\"" + std::to_string(num) + "\"/>";
    return s + "</VerbTab>";
}

DisplayPtr withTables(const std::string& tables) {
    return loadText(withElements(alnum(), "<VerbTabs>" + tables + "</VerbTabs>"));
}

std::string lookup(const vtab_s* t, uint32_t v) {
    char out[256] = "";
    EXPECT_EQ(XmlVTabOutput(t, v, out), 0);
    return out;
}

}  // namespace

TEST(DisplayVTab, ThreeEntriesRotateToTheMiddle) {
    vtab_node_s n[3] = {};
    vtab_node_s* root = nullptr;
    for (int i = 0; i < 3; ++i) {
        n[i].num = i + 1;
        XmlAVLinsert(&root, &n[i]);
    }
    EXPECT_EQ(root, &n[1]);
    EXPECT_EQ(root->left, &n[0]);
    EXPECT_EQ(root->right, &n[2]);
    EXPECT_EQ(root->parent, nullptr);
    for (auto& x : n) EXPECT_EQ(x.balance, 0);
}

TEST(DisplayVTab, SortedInsertionsStayBalanced) {
    std::vector<vtab_node_s> nodes(1000);
    vtab_node_s* root = nullptr;
    for (int count = 1; count <= 1000; ++count) {
        nodes[size_t(count - 1)] = {};
        nodes[size_t(count - 1)].num = count * 3;
        XmlAVLinsert(&root, &nodes[size_t(count - 1)]);
        if (count % 97 != 0 && count != 1000 && count > 20) continue;
        std::vector<uint32_t> inorder;
        int h = checkedHeight(root, nullptr, inorder);
        ASSERT_EQ(inorder.size(), size_t(count));
        EXPECT_TRUE(std::is_sorted(inorder.begin(), inorder.end()));
        EXPECT_LE(h, 1.45 * std::log2(count + 2)) << count;
    }
}

TEST(DisplayVTab, LookupInUnsignedOrder) {
    DisplayPtr d = withTables(table("t", "none", {{0, "zero"}, {5, "five"}, {-1, "minus one"}}));
    ASSERT_NE(d, nullptr) << displayError();
    const vtab_s* t = d->vtabs;
    EXPECT_EQ(lookup(t, 0), "zero");
    EXPECT_EQ(lookup(t, 5), "five");
    EXPECT_EQ(lookup(t, 0xFFFFFFFFu), "minus one");
    EXPECT_EQ(lookup(t, 3), "none");          // between two entries
    EXPECT_EQ(lookup(t, 0x80000000u), "none");
    std::vector<uint32_t> inorder;
    checkedHeight(t->root, nullptr, inorder);
    EXPECT_EQ(inorder, (std::vector<uint32_t>{0, 5, 0xFFFFFFFFu}));

    char out[256] = "kept";
    EXPECT_EQ(XmlVTabOutput(nullptr, 0, out), -1);
    EXPECT_STREQ(out, "kept");
    EXPECT_EQ(XmlVTabOutput(t, 0, nullptr), -1);
}

TEST(DisplayVTab, EmptyTableAndNames) {
    DisplayPtr d = withTables(table("empty", "nothing", {}) + table("same", "first", {{1, "a"}}) +
                              table("same", "second", {{1, "b"}}));
    ASSERT_NE(d, nullptr) << displayError();
    vtab_s* empty = XmlSearchVTab(d->vtabs, "empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->root, nullptr);
    EXPECT_EQ(lookup(empty, 0), "nothing");
    EXPECT_EQ(lookup(empty, 1), "nothing");
    // The list runs from the last table of the file; the later of two alike is found.
    EXPECT_STREQ(d->vtabs->default_text, "second");
    EXPECT_EQ(XmlSearchVTab(d->vtabs, "same"), d->vtabs);
    EXPECT_EQ(lookup(XmlSearchVTab(d->vtabs, "same"), 1), "b");
    EXPECT_EQ(XmlSearchVTab(d->vtabs, "Same"), nullptr);
    EXPECT_EQ(XmlSearchVTab(d->vtabs, nullptr), nullptr);

    // An element naming "same" takes the later table.
    std::string el = with(alnum(), "vtab=\"\"", "vtab=\"same\"");
    std::string tabs = "<VerbTabs>" + table("same", "first", {}) + table("same", "second", {}) + "</VerbTabs>";
    d = loadText(withElements(el, tabs));
    ASSERT_NE(d, nullptr) << displayError();
    EXPECT_STREQ(d->pages[0].elements->alphanum.vtab->default_text, "second");
}

TEST(DisplayVTab, EntriesOfAllTablesShareOneBlock) {
    std::vector<std::pair<int64_t, std::string>> e;
    for (int i = 0; i < 40; ++i) e.push_back({i * 2, "v" + std::to_string(i)});
    DisplayPtr d = withTables(table("a", "-", e) + table("b", "-", e));
    ASSERT_NE(d, nullptr) << displayError();
    for (const vtab_s* t = d->vtabs; t; t = t->next) {
        for (int i = 0; i < 40; ++i) EXPECT_EQ(lookup(t, uint32_t(i * 2)), "v" + std::to_string(i));
        EXPECT_EQ(lookup(t, 1), "-");
        EXPECT_GE(t->root, d->vtab_node_block);
        EXPECT_LT(t->root, d->vtab_node_block + 81);
    }
}
