#include "camsim/auth.h"
#include "camsim/camera.h"
#include "camsim/zones.h"

#include <gtest/gtest.h>

using namespace camsim;

TEST(CamsimParsers, FaultSpecsFromTheCommandLine)
{
    std::string endpoint;
    Fault f;
    ASSERT_TRUE(ParseFaultOption("img/query.cgi:delay=250", endpoint, f));
    EXPECT_EQ(endpoint, "img/query.cgi");
    EXPECT_EQ(f.delayMs, 250);
    f = {};
    ASSERT_TRUE(ParseFaultOption("/ocxparser.cgi:hang", endpoint, f));
    EXPECT_EQ(endpoint, "ocxparser.cgi");
    EXPECT_TRUE(f.hang);
    f = {};
    ASSERT_TRUE(ParseFaultOption("*:close=0", endpoint, f));
    EXPECT_EQ(f.closeAfterBytes, 0);
    ASSERT_TRUE(ParseFaultOption("*:status=503", endpoint, f));
    EXPECT_EQ(f.status, 503);
    ASSERT_TRUE(ParseFaultOption("*:stream=fuzz:18446744073709551615", endpoint, f));
    EXPECT_EQ(endpoint, "*");
    EXPECT_EQ(f.stream, "fuzz");
    EXPECT_EQ(f.seed, UINT64_MAX);

    for (const char* bad : {"", "img/query.cgi", ":hang", "x:delay", "x:delay=-1", "x:delay=5ms",
                            "x:status=42", "x:hang=1", "x:explode", "x:stream=fuzz:",
                            "x:stream=fuzz:-1", "x:stream=fuzz:7x", "x:stream=close:7"})
        EXPECT_FALSE(ParseFaultOption(bad, endpoint, f)) << bad;
}

TEST(CamsimParsers, BasicCredentials)
{
    EXPECT_EQ(*DecodeBase64("YWRtaW46czNjcmV0"), "admin:s3cret");
    EXPECT_EQ(*DecodeBase64("YQ=="), "a");
    EXPECT_FALSE(DecodeBase64("Y"));
    EXPECT_FALSE(DecodeBase64("YW*u"));

    auto c = ParseBasic("basic  YWRtaW46czpjOnJldA== ");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->user, "admin");
    EXPECT_EQ(c->password, "s:c:ret"); // only the first colon splits
    EXPECT_FALSE(ParseBasic("Basic bm9jb2xvbg==")); // "nocolon"
    EXPECT_FALSE(ParseBasic("Digest YWRtaW46czNjcmV0"));
    EXPECT_FALSE(ParseBasic("Basic"));
}

TEST(CamsimParsers, DigestFieldsAndTheKnownAnswer)
{
    // The worked example of the HTTP Digest standard.
    auto fields = ParseDigest(
        "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, "
        "nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\", "
        "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
    ASSERT_TRUE(fields);
    EXPECT_EQ((*fields)["qop"], "auth");
    EXPECT_EQ((*fields)["nc"], "00000001");
    EXPECT_EQ(DigestExpected(*fields, "Circle Of Life", "GET"), (*fields)["response"]);
    EXPECT_NE(DigestExpected(*fields, "Circle Of Life", "POST"), (*fields)["response"]);

    auto escaped = ParseDigest(R"(Digest Username="a\"b", uri=/x)");
    ASSERT_TRUE(escaped);
    EXPECT_EQ((*escaped)["username"], "a\"b");
    EXPECT_EQ((*escaped)["uri"], "/x");
    EXPECT_FALSE(ParseDigest("Digest username=\"open"));
    EXPECT_FALSE(ParseDigest("Digest =x"));
    EXPECT_FALSE(ParseDigest("Digest a=\"1\" b=2"));
}

TEST(CamsimParsers, ZoneCommandsAndValues)
{
    EXPECT_EQ(ParseZoneCommand("COMMAND: MOT_READ_AREA\r\n\r\n"), ZoneCommand::Read);
    EXPECT_EQ(ParseZoneCommand("COMMAND: MOT_SAVE_AREA\r\nRES: 3\r\n"), ZoneCommand::Save);
    EXPECT_EQ(ParseZoneCommand("COMMAND: MOT_OCX_FREE\r\n\r\n"), ZoneCommand::Free);
    EXPECT_EQ(ParseZoneCommand("COMMAND: MOT_READ_AREAX\r\n"), ZoneCommand::Unknown);
    EXPECT_EQ(ParseZoneCommand("MOT_READ_AREA"), ZoneCommand::Unknown);

    EXPECT_EQ(ZoneValue("AREA0X1: -40\r\n", "AREA0X1: "), -40);
    EXPECT_FALSE(ZoneValue("AREA0X1: 40", "AREA0X1: "));        // no CR
    EXPECT_FALSE(ZoneValue("AREA0X1: \r\n", "AREA0X1: "));      // empty
    EXPECT_FALSE(ZoneValue("AREA0X1: 4 0\r\n", "AREA0X1: "));   // trailing text
    EXPECT_FALSE(ZoneValue("AREA0X1: 99999999999\r\n", "AREA0X1: "));

    ZoneConfig c = ZoneConfig::Defaults();
    c.resolution = 5;
    c.zones[3].y2 = 479;
    auto back = ParseZoneSave(FormatZoneReply(c), ZoneConfig{});
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, c);
}
