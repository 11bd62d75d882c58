// The small XML reader the block-rule policies are read with: structure, attribute values,
// encodings, and a clear error for each way a document can be broken.
#include "trust/xml_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/list_fixtures.h"

namespace tolvessa {
namespace {

using testing::BytesOf;
using testing::ToUtf16;

XmlResult Read(std::string_view text) {
    const testing::Bytes bytes = BytesOf(text);
    return ReadXml(bytes);
}

TEST(XmlReaderTest, ReadsElementsAndAttributesPassingOverEverythingElse) {
    const XmlResult result = Read(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<!-- before -->\n"
        "<p:Root xmlns:p=\"urn:x\" a=\"1\" b='two'>\n"
        "  text &amp; more <![CDATA[ <ignored a=\"\"> ]]>\n"
        "  <?pi inside?>\n"
        "  <First x=\"&lt;&gt;&amp;&apos;&quot;\" y='&#65;&#x42;&#x1F600;'/>\n"
        "  <!-- <Commented out=\"yes\"/> -->\n"
        "  <Second z=\"a\tb\r\nc\nd\"><Inner/></Second >\n"
        "</p:Root >\n"
        "<!-- after --><?after?>\n");
    ASSERT_TRUE(result.root) << TextToUtf8(result.error);
    const XmlElement& root = *result.root;
    EXPECT_EQ(root.name, u"p:Root");
    EXPECT_EQ(root.LocalName(), u"Root");
    ASSERT_EQ(root.attributes.size(), 3u);
    EXPECT_EQ(root.Attribute(u"a"), u"1");
    EXPECT_EQ(root.Attribute(u"b"), u"two");
    EXPECT_FALSE(root.Attribute(u"A"));  // names are matched exactly
    ASSERT_EQ(root.children.size(), 2u);
    const XmlElement& first = root.children[0];
    EXPECT_EQ(first.name, u"First");
    EXPECT_EQ(first.Attribute(u"x"), u"<>&'\"");
    EXPECT_EQ(first.Attribute(u"y"), u"AB\U0001F600");
    EXPECT_TRUE(first.children.empty());
    const XmlElement& second = root.children[1];
    // Tab, CR LF and LF each become one blank.
    EXPECT_EQ(second.Attribute(u"z"), u"a b c d");
    ASSERT_EQ(second.children.size(), 1u);
    EXPECT_EQ(second.children[0].name, u"Inner");
}

TEST(XmlReaderTest, EncodingsComeFromTheByteOrderMarkOrTheFirstCharacter) {
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"utf-16\"?><R v=\"\xC3\xA9\xE2\x82\xAC\"/>";
    const testing::Bytes utf8 = BytesOf(document);
    const testing::Bytes withoutDeclaration = BytesOf("<R v=\"\xC3\xA9\xE2\x82\xAC\"/>");
    struct Case {
        const char* name;
        testing::Bytes bytes;
    };
    const Case cases[] = {
        {"utf8", utf8},
        {"utf8_bom",
         [&] {
             testing::Bytes b = {0xEF, 0xBB, 0xBF};
             b.insert(b.end(), utf8.begin(), utf8.end());
             return b;
         }()},
        {"utf16le_bom", ToUtf16(utf8, false, true)},
        {"utf16be_bom", ToUtf16(utf8, true, true)},
        {"utf16le_no_bom", ToUtf16(withoutDeclaration, false, false)},
        {"utf16be_no_bom", ToUtf16(withoutDeclaration, true, false)},
    };
    for (const Case& c : cases) {
        const XmlResult result = ReadXml(c.bytes);
        ASSERT_TRUE(result.root) << c.name << ": " << TextToUtf8(result.error);
        EXPECT_EQ(result.root->name, u"R") << c.name;
        EXPECT_EQ(result.root->Attribute(u"v"), u"\u00E9\u20AC") << c.name;
    }
}

TEST(XmlReaderTest, NestingIsBoundedAtTheLimitExactly) {
    const auto nested = [](std::size_t depth) {
        std::string text;
        for (std::size_t i = 0; i < depth; ++i)
            text += "<e>";
        for (std::size_t i = 0; i < depth; ++i)
            text += "</e>";
        return text;
    };
    EXPECT_TRUE(Read(nested(kMaxXmlDepth)).root);
    const XmlResult tooDeep = Read(nested(kMaxXmlDepth + 1));
    EXPECT_FALSE(tooDeep.root);
    EXPECT_NE(tooDeep.error.find(u"nested too deeply"), Text::npos);
    // Far deeper input ends with the same error, not with the stack.
    EXPECT_FALSE(Read(nested(100000)).root);
}

// Each broken document gives an error that says what is wrong and on which line.
TEST(XmlReaderTest, BrokenDocumentsSayWhatIsWrongAndWhere) {
    struct Case {
        const char* name;
        std::string text;
        std::u16string_view error;
    };
    const Case cases[] = {
        {"empty", "", u"no document element (line 1)"},
        {"only_a_comment", "<!-- x -->\n", u"no document element (line 2)"},
        {"text_first", "hello <R/>", u"text before the document element (line 1)"},
        {"unclosed_element", "<R>\n<A>\n</A>\n", u"element <R> is not closed (line 4)"},
        {"wrong_end_tag", "<R>\n<A></B>\n</R>", u"</B> closes <A> (line 2)"},
        {"end_tag_open", "<R></R", u"an end tag is not closed (line 1)"},
        {"start_tag_open", "<R a=\"1\"", u"a start tag is not closed (line 1)"},
        {"duplicate_attribute", "<R a=\"1\" a='2'/>", u"an attribute appears twice"},
        {"unquoted_value", "<R a=1/>", u"an attribute value must be quoted"},
        {"unclosed_value", "<R a=\"1/>", u"an attribute value is not closed"},
        {"lt_in_value", "<R a=\"<\"/>", u"'<' inside an attribute value"},
        {"no_equals", "<R a \"1\"/>", u"'=' was expected after an attribute name"},
        {"no_space_between", "<R a=\"1\"b=\"2\"/>", u"white space was expected between attributes"},
        {"unknown_entity", "<R a=\"&nbsp;\"/>", u"an entity reference other than the five"},
        {"entity_in_text", "<R>&copy;</R>", u"an entity reference other than the five"},
        {"reference_not_closed", "<R a=\"&#65\"/>", u"a character reference holds something"},
        {"reference_at_end", "<R>&#65", u"a character reference is not closed"},
        {"decimal_reference_with_hex_digit", "<R a=\"&#6A;\"/>",
         u"a character reference holds something"},
        {"reference_to_nul", "<R a=\"&#0;\"/>", u"a character reference to a character"},
        {"reference_to_surrogate", "<R a=\"&#xD800;\"/>", u"a character reference to a character"},
        {"reference_too_big", "<R a=\"&#x110000;\"/>", u"a character reference past U+10FFFF"},
        {"empty_reference", "<R a=\"&#;\"/>", u"a character reference to a character"},
        {"doctype", "<?xml version=\"1.0\"?>\n<!DOCTYPE R [<!ENTITY e \"x\">]><R/>",
         u"document type declarations are not read (line 2)"},
        {"second_root", "<R/>\n<S/>", u"content after the document element (line 2)"},
        {"text_after_root", "<R/>x", u"content after the document element"},
        {"unclosed_comment", "<R><!-- x </R>", u"a comment is not closed"},
        {"unclosed_cdata", "<R><![CDATA[ x </R>", u"a CDATA section is not closed"},
        {"unclosed_pi", "<?xml version=\"1.0\"", u"a processing instruction is not closed"},
        {"declaration_inside", "<R><!ELEMENT R ANY></R>", u"a declaration inside an element"},
        {"bad_name", "<1R/>", u"a name was expected"},
        {"control_character", "<R>\n\x01</R>", u"a character that XML does not allow (line 2)"},
    };
    for (const Case& c : cases) {
        const XmlResult result = Read(c.text);
        EXPECT_FALSE(result.root) << c.name;
        EXPECT_NE(result.error.find(c.error), Text::npos)
            << c.name << ": " << TextToUtf8(result.error);
    }
}

// A text that ends inside the document element is no document, but what was read of it is
// kept: open elements with their children read whole, an element whose start tag is cut left
// out, and where the text ends.
TEST(XmlReaderTest, ATextCutShortKeepsWhatWasReadBeforeTheEnd) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> children;  // of the document element: name, "/" when closed
        std::u16string_view cutAt;
    };
    const Case cases[] = {
        {"in_a_start_tag",
         "<R>\n <A/><B x='1'></B>\n <C y='2",
         {"A/", "B/"},
         u"inside <C> opened on line 3, column 2"},
        {"in_a_name", "<R><A/><Bee", {"A/"}, u"inside <Bee> opened on line 1, column 8"},
        {"after_a_lone_angle_bracket",
         "<R><A/><",
         {"A/"},
         u"inside <R> opened on line 1, column 1"},
        {"in_the_content_of_a_child",
         "<R><A/><B><C/>text",
         {"A/", "B"},
         u"inside <B> opened on line 1, column 8"},
        {"in_an_end_tag", "<R><A></A", {"A"}, u"inside <A> opened on line 1, column 4"},
        {"in_a_comment", "<R><A/><!-- x", {"A/"}, u"inside <R> opened on line 1, column 1"},
        {"in_a_cdata_section",
         "<R><A/><![CDATA[ x",
         {"A/"},
         u"inside <R> opened on line 1, column 1"},
        {"in_a_reference", "<R><A/>&am", {"A/"}, u"inside <R> opened on line 1, column 1"},
        {"in_a_character_reference",
         "<R><A/>&#6",
         {"A/"},
         u"inside <R> opened on line 1, column 1"},
        {"after_an_attribute_name",
         "<R><A/><B x",
         {"A/"},
         u"inside <B> opened on line 1, column 8"},
    };
    for (const Case& c : cases) {
        const XmlResult result = Read(c.text);
        EXPECT_FALSE(result.root) << c.name;
        EXPECT_NE(result.error, u"") << c.name;
        ASSERT_TRUE(result.partial) << c.name << ": " << TextToUtf8(result.error);
        EXPECT_EQ(result.partial->name, u"R") << c.name;
        EXPECT_FALSE(result.partial->closed) << c.name;
        std::vector<std::string> children;
        for (const XmlElement& child : result.partial->children)
            children.push_back(TextToUtf8(child.name) + (child.closed ? "/" : ""));
        EXPECT_EQ(children, c.children) << c.name;
        EXPECT_EQ(result.cutAt, c.cutAt) << c.name << ": " << TextToUtf8(result.cutAt);
    }
    // The attributes of an element read whole are all there.
    const XmlResult kept = Read("<R><B x='1' y=\"2\"/><C");
    ASSERT_TRUE(kept.partial);
    ASSERT_EQ(kept.partial->children.size(), 1u);
    EXPECT_EQ(kept.partial->children[0].Attribute(u"y"), std::optional<TextView>(u"2"));

    // Errors that are no cut keep nothing: before the document element is whole, after it, or
    // anywhere but the end.
    for (const std::string text :
         {"<R", "<?xml version='1.0'", "<R/><!-- x", "<R><A></B><C", "<R>\x01<A/><B"}) {
        const XmlResult result = Read(text);
        EXPECT_FALSE(result.root) << text;
        EXPECT_FALSE(result.partial) << text;
        EXPECT_EQ(result.cutAt, u"") << text;
    }
    // A whole document is read whole, every element closed.
    const XmlResult whole = Read("<R><A/><B></B></R>");
    ASSERT_TRUE(whole.root);
    EXPECT_TRUE(whole.root->closed && whole.root->children[0].closed &&
                whole.root->children[1].closed);
    EXPECT_FALSE(whole.partial);
}

TEST(XmlReaderTest, BrokenUtf16IsRefused) {
    // An odd byte count cannot be UTF-16; neither can half of a surrogate pair.
    const testing::Bytes odd = {0xFF, 0xFE, '<', 0, 'R', 0, '/', 0, '>', 0, 0};
    const XmlResult oddResult = ReadXml(odd);
    EXPECT_FALSE(oddResult.root);
    EXPECT_EQ(oddResult.error, u"UTF-16 text with an odd number of bytes");

    const testing::Bytes lone = {0xFF, 0xFE, '<', 0,    'R',  0,   ' ', 0,   'a', 0,   '=',
                                 0,    '"',  0,   0x00, 0xD8, '"', 0,   '/', 0,   '>', 0};
    const XmlResult loneResult = ReadXml(lone);
    EXPECT_FALSE(loneResult.root);
    EXPECT_NE(loneResult.error.find(u"a character that XML does not allow"), Text::npos);
}

}  // namespace
}  // namespace tolvessa
