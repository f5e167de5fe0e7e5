// The viewer's request parsing and encoding: everything a client of the
// local server controls, as tables of accepted and refused requests.
#include <gtest/gtest.h>

#include <cstring>

#include "cli/view/view.h"
#include "meshgen/meshgen.h"

namespace {

using Params = std::multimap<std::string, std::string>;

Params Base()
{
    return {{"size", "0.25"}, {"mode", "lt"}, {"limit", "30"}};
}

Params With(Params p, const std::string &name, const std::string &value)
{
    p.erase(name);
    p.emplace(name, value);
    return p;
}

uint32_t U32(const std::string &bytes, size_t at)
{
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

}  // namespace

TEST(ViewRequest, AcceptsWhatThePageSends)
{
    ViewRequest r;
    std::string error;
    ASSERT_TRUE(ViewParseRequest(With(Base(), "select", "3,12"), 12, &r, &error)) << error;
    EXPECT_EQ(r.size, 0.25);
    EXPECT_EQ(r.angleMode, 1);
    EXPECT_EQ(r.limitDeg, 30.0);
    EXPECT_EQ(r.select[0], 3);
    EXPECT_EQ(r.select[1], 12);
    ASSERT_TRUE(ViewParseRequest(With(With(Base(), "mode", "gt"), "size", "-1e-3"), 12, &r, &error)) << error;
    EXPECT_EQ(r.angleMode, 2);
    EXPECT_EQ(r.size, -1e-3) << "the module decides what a negative size does, as on the command line";
    EXPECT_EQ(r.select[0], 0) << "no select: object mode";
    EXPECT_FALSE(r.clamp) << "no clamp: the size as given, as on the command line";
    ASSERT_TRUE(ViewParseRequest(With(Base(), "clamp", "1"), 12, &r, &error)) << error;
    EXPECT_TRUE(r.clamp);
}

TEST(ViewRequest, RefusesEverythingElse)
{
    const Params refused[] = {
        {},                                 // nothing
        {{"size", "0.1"}, {"mode", "lt"}},  // a value missing
        With(Base(), "size", ""),
        With(Base(), "size", "abc"),
        With(Base(), "size", "nan"),
        With(Base(), "size", "inf"),
        With(Base(), "size", "1e999"),  // overflows to infinity
        With(Base(), "size", " 1"),
        With(Base(), "size", "0x10"),
        With(Base(), "size", std::string(65, '1')),  // too long
        With(Base(), "mode", "LT "),
        With(Base(), "mode", ""),
        With(Base(), "limit", "180.5"),
        With(Base(), "limit", "-1"),
        With(Base(), "select", "1,1"),  // the same polygon twice
        With(Base(), "select", "0,2"),
        With(Base(), "select", "1,13"),  // past the last polygon
        With(Base(), "select", "1"),
        With(Base(), "select", "1,2,3"),
        With(Base(), "select", "-1,2"),
        With(Base(), "select", "99999999999,2"),
        With(Base(), "output", "/etc/passwd"),        // no parameter names a file
        With(Base(), "token", std::string(64, 'a')),  // the token travels only in its header
        With(Base(), "clamp", "yes"),
        [] {
            Params p = Base();
            p.emplace("size", "0.5");
            return p;
        }(),  // twice
    };
    int row = 0;
    for (const Params &params : refused) {
        ViewRequest r;
        r.size = 7.0;
        std::string error;
        EXPECT_FALSE(ViewParseRequest(params, 12, &r, &error)) << "row " << row;
        EXPECT_FALSE(error.empty()) << "row " << row;
        EXPECT_EQ(r.size, 7.0) << "row " << row << ": a refused request leaves the result alone";
        row++;
    }
}

TEST(ViewRequest, HostAndToken)
{
    EXPECT_TRUE(ViewHostAllowed("127.0.0.1:8080", 8080));
    EXPECT_TRUE(ViewHostAllowed("localhost:8080", 8080));
    for (const char *host : {"127.0.0.1:8081", "127.0.0.1", "localhost", "evil.example:8080",
                             "127.0.0.1:8080.evil.example", "LOCALHOST:8080", "[::1]:8080", ""})
        EXPECT_FALSE(ViewHostAllowed(host, 8080)) << host;

    const std::string token = ViewNewToken();
    ASSERT_EQ(token.size(), 64u);
    EXPECT_NE(ViewNewToken(), token) << "fresh at every start";
    EXPECT_TRUE(ViewTokenEquals(token, token));
    EXPECT_FALSE(ViewTokenEquals(token.substr(0, 63), token));
    EXPECT_FALSE(ViewTokenEquals(token + "0", token));
    EXPECT_FALSE(ViewTokenEquals("", ""));
}

TEST(ViewEncode, ArraysOnFourByteBoundaries)
{
    const MeshData cube = MakeCube(0.0, 1.0);
    const std::vector<bool> created = {false, true};
    const std::vector<bool> reshaped = {true, true, false, true};
    const std::string json = ViewJsonText({{"a", "x\"\\\n\x01"}, {"name", "caf\xe9.obj"}});
    EXPECT_EQ(json, "{\"a\":\"x\\\"\\\\\\n\\u0001\",\"name\":\"caf\xef\xbf\xbd.obj\"}")
        << "a Latin-1 file name is no exception, its byte a replacement character";
    const std::string bytes = ViewEncodeMesh(json, cube, &created, &reshaped);
    ASSERT_EQ(bytes.compare(0, 4, "CVM1"), 0);
    const uint32_t j = U32(bytes, 4);
    EXPECT_EQ(j % 4, 0u);
    EXPECT_EQ(bytes.compare(8, json.size(), json), 0);
    const size_t at = 8 + j;
    EXPECT_EQ(U32(bytes, at), 8u);
    EXPECT_EQ(U32(bytes, at + 4), 6u);
    EXPECT_EQ(U32(bytes, at + 8), 24u);
    float x7;
    std::memcpy(&x7, bytes.data() + at + 12 + 7 * 12, 4);
    EXPECT_EQ(x7, 1.0f) << "point 7 is (1, 1, 1)";
    const size_t counts = at + 12 + 8 * 12, indices = counts + 6 * 4, tint = indices + 24 * 4;
    EXPECT_EQ(U32(bytes, counts + 5 * 4), 4u);
    EXPECT_EQ(U32(bytes, indices + 23 * 4), (uint32_t)MeshPolyPoints(cube, 5)[3]);
    EXPECT_EQ(bytes.substr(tint, 6), std::string("\1\2\0\1\0\0", 6)) << "new wins over cut back";
    EXPECT_EQ(bytes.size(), tint + 8) << "padded to 4";
}

TEST(ViewRequest, HeadWithinItsBudget)
{
    const std::string get = "GET / HTTP/1.1\r\nHost: 127.0.0.1:1\r\n\r\n";
    EXPECT_EQ(ViewHeadLength(get + "body", 100, 10), (long)get.size()) << "what follows is the body's";
    EXPECT_EQ(ViewHeadLength(get.substr(0, get.size() - 1), 100, 10), 0) << "not ended yet";
    EXPECT_EQ(ViewHeadLength("GET / HTTP/1.1\n\n", 100, 10), 0) << "only CR LF ends a line here";
    EXPECT_EQ(ViewHeadLength(get, get.size(), 3), (long)get.size()) << "exactly at both limits";
    EXPECT_EQ(ViewHeadLength(get, get.size() - 1, 10), -1) << "one byte too many";
    EXPECT_EQ(ViewHeadLength(get, 100, 2), -1) << "one line too many";
    EXPECT_EQ(ViewHeadLength(std::string(50000, 'x'), 16384, 100), -1) << "one endless line";
}

// A Range header made the library build one copy of the file per range in
// memory; a second Host could differ from the one checked.
TEST(ViewRequest, HeadsWithRangesOrTwoHostsAreRefused)
{
    const std::string start = "GET /app/three.module.js HTTP/1.1\r\nHost: 127.0.0.1:8000\r\n";
    std::string status, why;
    EXPECT_FALSE(ViewHeadRefused(start + "Accept: */*\r\n\r\n", &status, &why));
    EXPECT_FALSE(ViewHeadRefused(start + "X-Range: bytes=0-\r\nX: Host: a\r\n\r\n", &status, &why));
    struct Case {
        std::string head;
        const char *status;
    } cases[] = {
        {start + "Range: bytes=0-,0-,0-\r\n\r\n", "416 Range Not Satisfiable"},
        {start + "rAnGe: bytes=0-1\r\n\r\n", "416 Range Not Satisfiable"},
        {start + "Host: evil.example\r\n\r\n", "400 Bad Request"},
        {start + "host:127.0.0.1:8000\r\n\r\n", "400 Bad Request"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(ViewHeadRefused(c.head, &status, &why)) << c.head;
        EXPECT_EQ(status, c.status) << c.head;
    }
}
