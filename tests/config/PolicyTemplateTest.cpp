// The Group Policy template in policy/ against the code's policy table: the files are
// well-formed XML, every key the code takes from policy has one policy under the registry key
// the program reads, and every string and presentation the template refers to exists in each
// language's resources, with the controls of each policy's elements.
#include "config/PolicySource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using ::testing::IsSubsetOf;

const char* const kNamespace = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

DocPtr Parse(const std::string& relative) {
    const std::string path = std::string(KS_POLICY_TEMPLATE_DIR) + "/" + relative;
    return DocPtr(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET));
}

// The text of every node (element or attribute) the expression selects; "p" is the template's
// namespace.
std::vector<std::string> Select(xmlDoc* doc, const std::string& expression) {
    std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContext*)> context(xmlXPathNewContext(doc),
                                                                         xmlXPathFreeContext);
    xmlXPathRegisterNs(context.get(), BAD_CAST "p", BAD_CAST kNamespace);
    std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObject*)> found(
        xmlXPathEvalExpression(BAD_CAST expression.c_str(), context.get()), xmlXPathFreeObject);
    std::vector<std::string> texts;
    if (found == nullptr || found->nodesetval == nullptr)
        return texts;
    for (int i = 0; i < found->nodesetval->nodeNr; ++i) {
        xmlChar* text = xmlNodeGetContent(found->nodesetval->nodeTab[i]);
        texts.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        xmlFree(text);
    }
    return texts;
}

std::set<std::string> SelectSet(xmlDoc* doc, const std::string& expression) {
    const std::vector<std::string> texts = Select(doc, expression);
    return std::set<std::string>(texts.begin(), texts.end());
}

// The X of every "$(kind.X)" attribute value.
std::set<std::string> References(xmlDoc* doc, const std::string& kind) {
    const std::string prefix = "$(" + kind + ".";
    std::set<std::string> ids;
    for (const std::string& value : Select(doc, "//@*[starts-with(., '" + prefix + "')]"))
        ids.insert(value.substr(prefix.size(), value.size() - prefix.size() - 1));
    return ids;
}

TEST(PolicyTemplateTest, TemplateCoversThePolicyTableInBothLanguages) {
    const DocPtr admx = Parse("KestrelSync.admx");
    ASSERT_NE(admx, nullptr) << "KestrelSync.admx is not well-formed";
    const std::vector<std::string> table = PolicyKeyNames();
    EXPECT_EQ(SelectSet(admx.get(), "//p:policy/p:elements/*/@valueName"),
              std::set<std::string>(table.begin(), table.end()));
    EXPECT_EQ(SelectSet(admx.get(), "//p:policy/@key"),
              std::set<std::string>{"Software\\Policies\\KestrelSync"});
    EXPECT_EQ(SelectSet(admx.get(), "//p:policyNamespaces/p:target/@namespace"),
              std::set<std::string>{"KestrelSync.Policies"});
    const std::set<std::string> strings = References(admx.get(), "string");
    for (const char* language : {"en-US", "ko-KR"}) {
        const DocPtr adml = Parse(std::string(language) + "/KestrelSync.adml");
        ASSERT_NE(adml, nullptr) << language << " is not well-formed";
        EXPECT_THAT(strings, IsSubsetOf(SelectSet(adml.get(), "//p:stringTable/p:string/@id")))
            << language;
        for (const std::string& name : Select(admx.get(), "//p:policy/@name")) {
            const std::string policy = "//p:policy[@name='" + name + "']";
            const std::vector<std::string> shown = Select(admx.get(), policy + "/@presentation");
            ASSERT_EQ(shown.size(), 1u) << name;
            const std::string id = shown[0].substr(15, shown[0].size() - 16); // $(presentation.)
            EXPECT_EQ(SelectSet(adml.get(), "//p:presentation[@id='" + id + "']/*/@refId"),
                      SelectSet(admx.get(), policy + "/p:elements/*/@id"))
                << language << " " << name;
        }
    }
}

} // namespace
