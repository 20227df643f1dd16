#include "html/Replacements.h"

#include <gtest/gtest.h>

using namespace larkspool;

TEST(Replacements, TextsAreExactlyTheFixedOnes) {
    const std::string U = "http://site.test/a.htm";
    EXPECT_EQ(SkippedReplacement(U),
              "\"javascript:if (confirm('http://site.test/a.htm\\n\\nThis link is not downloaded "
              "by Larkspool because it is skipped.\\n\\nDo you want to open it from the "
              "server?'))window.location='http://site.test/a.htm'\"");
    EXPECT_EQ(ToBrowserReplacement(U),
              "\"javascript: alert('http://site.test/a.htm\\n\\nThis file is not downloaded with "
              "Larkspool but your default download manager.')\"");
    EXPECT_EQ(NotToDownloadReplacement(U),
              "\"javascript:if (confirm('http://site.test/a.htm\\n\\nThis link is not downloaded "
              "by Larkspool according to Advanced options.\\n\\nDo you want to open it from the "
              "server?'))window.location='http://site.test/a.htm'\"");
    EXPECT_EQ(NotSelectedReplacement(U),
              "\"javascript:if (confirm('http://site.test/a.htm\\n\\nThis link is not saved by "
              "Larkspool because it was not selected for download.\\n\\nDo you want to open it "
              "from the server?'))window.location='http://site.test/a.htm'\"");
    EXPECT_EQ(LocalReplacement("a.htm", "#part"), "\"a.htm#part\"");
    EXPECT_EQ(LocalReplacement("pic.gif"), "\"pic.gif\"");
}

TEST(Replacements, ScriptStringsAndAttributesCannotBeBrokenOut) {
    // a real address (from the browser): every special character escaped
    EXPECT_EQ(EscapeForScriptInAttribute("a'b\\c\"d<e>f&g\nh\ri\x01j"),
              "a\\'b\\\\c&quot;d&lt;e&gt;f&amp;g\\nh\\ri\\x01j");
    // percent forms the browser would decode into a quote, backslash or line break
    EXPECT_EQ(EscapeForScriptInAttribute("x%27y%5cz%0A%20%e9"), "x%2527y%255cz%250A%20%e9");
    EXPECT_EQ(EscapeForScriptInAttribute("50%"), "50%");
    // an address read from a page, its references decoded: "&" is written as a reference
    EXPECT_EQ(EscapeForScriptInAttribute("q?a=1&b='\\"), "q?a=1&amp;b=\\'\\\\");
    EXPECT_EQ(EscapeForScriptInAttribute("caf\xC3\xA9&x"), "caf\xC3\xA9&amp;x");
    // ordinary addresses stay as they are
    EXPECT_EQ(EscapeForScriptInAttribute("https://h.test/p/q.html?x=1#y"),
              "https://h.test/p/q.html?x=1#y");
}

TEST(Replacements, LocalNamesKeepTheAttributeClosed) {
    EXPECT_EQ(LocalReplacement("a&b\"c.htm", "#x\"y&"), "\"a&amp;b&quot;c.htm#x&quot;y&amp;\"");
    EXPECT_EQ(ServerReplacement("http://h/c.gif?v=2&p=\"1\""),
              "\"http://h/c.gif?v=2&amp;p=&quot;1&quot;\"");
}
