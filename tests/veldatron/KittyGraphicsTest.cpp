// The kitty graphics protocol in a real Terminal: the control block, payloads in every format,
// compression and medium, chunked transmission, the replies, and the image store's budget.

#include "KittyGraphicsTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

std::string b64Picture(const RgbaImage& image) {
    return base64(image.bytes);
}

KittyGraphicsControl with(const std::function<void(KittyGraphicsControl&)>& change) {
    KittyGraphicsControl control;
    change(control);
    return control;
}

// ---- The control block ----------------------------------------------------------------------

TEST(KittyGraphicsControl, ReadsEveryKeyWithItsTypeAndDefault) {
    struct Case {
        const char* input;
        KittyGraphicsControl expected;
        const char* payload;
    };
    const Case cases[] = {
        {"a=T,f=100,i=7;", with([](auto& c) { c.action = 'T', c.format = 100, c.imageId = 7; }),
         ""},
        {"a=p,i=3", with([](auto& c) { c.action = 'p', c.imageId = 3; }), ""},
        {"i=1,i=2", with([](auto& c) { c.imageId = 2; }), ""},
        {"f=abc", {}, ""},
        {"s=+20,v=-3", with([](auto& c) { c.width = 20, c.height = -3; }), ""},
        {"i=-1", {}, ""},
        {"i=-00,I=+7,p=4294967295",
         with([](auto& c) { c.imageId = 0, c.imageNumber = 7, c.placementId = 4294967295u; }), ""},
        {"i=4294967296,I=1e3,p=+,P=-,Q= 1", {}, ""},
        {"x=9223372036854775807,y=9223372036854775808,w=-9223372036854775808",
         with([](auto& c) { c.cropX = INT64_MAX, c.cropWidth = INT64_MIN; }), ""},
        {"=5,a,a=q,,", with([](auto& c) { c.action = 'q'; }), ""},
        {"a\xc3\xa4=q,f=\xc3\xa4,s=2", with([](auto& c) { c.width = 2; }), ""},
        {" a=q,A=q,aa=q,a=", {}, ""},
        {"m=1,t=f", with([](auto& c) { c.transmission = 'f'; }), ""},
        {"m=1", with([](auto& c) { c.more = 1; }), ""},
        {"q=2,t=s,S=10,O=-3,o=z,d=I,C=1,U=1,z=-5,H=-2,V=3,X=4,Y=5,c=6,r=7,w=8,h=9,P=10,Q=11,p=12,"
         "I=13,a=Tx,x=1,y=2,m=1",
         with([](auto& c) {
             c.suppressResponses = 2, c.transmission = 's', c.dataSize = 10, c.dataOffset = -3;
             c.compression = 'z', c.deleteMode = 'I', c.cursorPolicy = 1, c.unicodePlaceholder = 1;
             c.zIndex = -5, c.offsetH = -2, c.offsetV = 3, c.pixelOffsetX = 4, c.pixelOffsetY = 5;
             c.columns = 6, c.rows = 7, c.cropWidth = 8, c.cropHeight = 9, c.parentImageId = 10;
             c.parentPlacementId = 11, c.placementId = 12, c.imageNumber = 13, c.action = 'T';
             c.cropX = 1, c.cropY = 2;
         }),
         ""},
        {";a=q", {}, "a=q"},
        {"a=q;AA;B=B", with([](auto& c) { c.action = 'q'; }), "AA;B=B"},
        {"o=,d=", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string input = c.input;
        const KittyGraphicsCommand command =
            parseKittyGraphicsControl(TextDecoding::bytesOf(input));
        EXPECT_EQ(command.control, c.expected);
        EXPECT_EQ(TextDecoding::textOf(command.payload), c.payload);
    }
}

// ---- Payloads -------------------------------------------------------------------------------

// Every format, with and without compression, through every medium, is stored as the same
// straight RGBA pixels (PNG payloads decode to them).
TEST(KittyGraphicsPayload, EveryFormatCompressionAndMediumStoresTheSourcePixels) {
    const RgbaImage picture = samplePicture();
    const std::vector<uint8_t> png = encodePng(picture).value();
    struct Format {
        int code;
        std::vector<uint8_t> data;
        RgbaImage decoded;
        KittyGraphicsPayload::Kind kind;
    };
    const Format formats[] = {
        {24, rgbOf(picture), opaque(picture), KittyGraphicsPayload::Kind::rgba},
        {32, picture.bytes, picture, KittyGraphicsPayload::Kind::rgba},
        {100, png, picture, KittyGraphicsPayload::Kind::png},
    };
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    uint32_t id = 0;
    for (const Format& format : formats) {
        for (const bool compressed : {false, true}) {
            const std::vector<uint8_t> data = compressed ? zlibCompress(format.data) : format.data;
            for (const char medium : {'d', 'f', 't', 's'}) {
                SCOPED_TRACE(std::to_string(format.code) + (compressed ? " o=z " : " ") + medium);
                ++id;
                std::optional<SharedMemory> shm;
                std::string file;
                std::string payload;
                switch (medium) {
                case 'd':
                    payload = base64(data);
                    break;
                case 'f':
                case 't':
                    file = folder.write("tty-graphics-protocol-" + std::to_string(id), data);
                    payload = base64(file);
                    break;
                default:
                    shm.emplace(data);
                    payload = base64(shm->name());
                }
                TerminalFixture t;
                t.feed(kitty("a=t,i=" + std::to_string(id) + ",f=" + std::to_string(format.code) +
                                 ",s=3,v=2,t=" + std::string(1, medium) +
                                 (compressed ? ",o=z" : ""),
                             payload));
                EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=" + std::to_string(id) + ";OK\\x1b\\\\");
                const auto& images = t.terminal.kittyGraphicsState().imagesById;
                ASSERT_EQ(images.count(id), 1u);
                EXPECT_EQ(images.at(id).payload.kind(), format.kind);
                EXPECT_EQ(storedPicture(t.terminal, id), format.decoded);
                if (format.kind == KittyGraphicsPayload::Kind::png) {
                    EXPECT_EQ(*images.at(id).payload.pngData(), format.data) << "kept as sent";
                }
                if (medium == 'f') {
                    EXPECT_TRUE(exists(file)) << "a plain file stays";
                } else if (medium == 't') {
                    EXPECT_FALSE(exists(file)) << "a temporary file is deleted once read";
                } else if (medium == 's') {
                    EXPECT_FALSE(shm->exists()) << "the shared memory is removed";
                }
            }
        }
    }
}

TEST(KittyGraphicsPayload, DirectDataAtTheLimitsOfItsRules) {
    struct Case {
        const char* name;
        std::string control;
        std::string payload;
        bool stored;
    };
    const std::vector<uint8_t> six = {1, 2, 3, 4, 5, 6};
    const std::string valid = base64(six);
    std::string broken = valid;
    broken.insert(2, "\n \r\t");
    const std::vector<uint8_t> stream = zlibCompress(six);
    const std::vector<uint8_t> truncated(stream.begin(), stream.end() - 3);
    std::vector<uint8_t> badChecksum = stream;
    badChecksum.back() ^= 0xFF;
    const Case cases[] = {
        {"format 24 gains opaque alpha", "f=24,s=2,v=1", valid, true},
        {"bytes outside the alphabet are skipped", "f=24,s=2,v=1", broken, true},
        {"unpadded base64", "f=24,s=2,v=1", "AQIDBAUG", true},
        {"a lone symbol in the last group", "f=24,s=2,v=1", valid + "A", false},
        {"pieces padded one by one", "f=24,s=2,v=1", "AQI=AwQ=BQY=", true},
        {"padding that ends no group", "f=24,s=2,v=1", "=AQIDBAUG", false},
        {"a lone symbol before the padding", "f=24,s=2,v=1", "AQIDBAUGA=", false},
        {"too few bytes for the size", "f=32,s=2,v=1", valid, false},
        {"a side of 0", "f=24,s=0,v=2", valid, false},
        {"a side over 10000", "f=32,s=10000,v=10001", valid, false},
        {"an unknown format", "f=25,s=2,v=1", valid, false},
        {"an empty payload", "f=24,s=2,v=1", "", false},
        {"a payload of padding only", "f=24,s=2,v=1", "====", false},
        {"compressed", "f=24,s=2,v=1,o=z", base64(stream), true},
        {"a truncated stream", "f=24,s=2,v=1,o=z", base64(truncated), false},
        {"a wrong checksum", "f=24,s=2,v=1,o=z", base64(badChecksum), false},
        {"raw DEFLATE without the zlib header", "f=24,s=2,v=1,o=z",
         base64(std::span(stream).subspan(2, stream.size() - 6)), false},
        {"an unknown compression", "f=24,s=2,v=1,o=x", valid, false},
        {"not a PNG", "f=100", valid, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t;
        t.feed(kitty("a=t,i=1," + c.control, c.payload));
        EXPECT_EQ(t.takeReplies(),
                  c.stored ? "\\x1b_Gi=1;OK\\x1b\\\\" : "\\x1b_Gi=1;EINVAL: bad payload\\x1b\\\\");
        if (c.stored && c.control.find("f=24") != std::string::npos) {
            EXPECT_EQ(storedPicture(t.terminal, 1),
                      (RgbaImage{2, 1, {1, 2, 3, 255, 4, 5, 6, 255}}));
        }
    }
}

TEST(KittyGraphicsPayload, AFileOfExactly400MiBIsReadAndOneByteMoreIsNot) {
    // Sparse files: the PNG header at the start, zeros after it (a PNG padded at its end reads as
    // the same PNG). The larger one is refused from its size alone, before anything is read.
    TempFolder folder;
    const std::vector<uint8_t> png = encodePng(samplePicture()).value();
    for (const int64_t extra : {1, 0}) {
        SCOPED_TRACE(extra);
        const std::string file = folder.write("big" + std::to_string(extra), png);
        ASSERT_EQ(::truncate(file.c_str(), KittyGraphicsLimits::maxPayloadBytes + extra), 0);
        TerminalFixture t;
        t.feed(kitty("a=t,i=1,f=100,t=f", base64(file)));
        EXPECT_EQ(t.takeReplies(), extra == 0 ? "\\x1b_Gi=1;OK\\x1b\\\\"
                                              : "\\x1b_Gi=1;EINVAL: bad payload\\x1b\\\\");
    }
}

// ---- Chunked transmission -------------------------------------------------------------------

TEST(KittyGraphicsChunks, TheFirstChunksControlGovernsTheJoinedPayload) {
    TerminalFixture t;
    // "AAAABBBBCCCC" is nine bytes of base64: three RGB pixels of a 3 x 1 picture.
    t.feed(kitty("a=T,i=5,f=24,s=3,v=1,m=1", "AAAA") + kitty("m=1,i=9,a=t", "BBBB") +
           kitty("m=0,a=q,i=3", "CCCC"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=5;OK\\x1b\\\\");
    const auto expected = TextDecoding::base64Decode(TextDecoding::bytesOf("AAAABBBBCCCC"));
    EXPECT_EQ(storedPicture(t.terminal, 5)->bytes,
              opaque(RgbaImage{3, 1,
                               [&] {
                                   std::vector<uint8_t> rgba;
                                   for (size_t i = 0; i < 9; i += 3) {
                                       rgba.insert(rgba.end(), {(*expected)[i], (*expected)[i + 1],
                                                                (*expected)[i + 2], 0});
                                   }
                                   return rgba;
                               }()})
                  .bytes);
    EXPECT_FALSE(t.terminal.kittyGraphicsState().pending);
}

TEST(KittyGraphicsChunks, AnySplitOfChunksAndOfTheStreamGivesTheSameImage) {
    const RgbaImage picture = samplePicture(4, 3);
    const std::string payload = b64Picture(picture);
    ASSERT_EQ(payload.size() % 4, 0u);
    for (size_t first = 0; first <= payload.size(); first += 4) {
        for (size_t second = first; second <= payload.size(); second += 4) {
            SCOPED_TRACE(std::to_string(first) + "," + std::to_string(second));
            const std::string stream = kitty("a=t,i=3,s=4,v=3,m=1", payload.substr(0, first)) +
                                       kitty("m=1", payload.substr(first, second - first)) +
                                       kitty("m=0", payload.substr(second));
            TerminalFixture t;
            t.feedSplit(stream, {first % 7 + 1, second % 5 + 1});
            EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=3;OK\\x1b\\\\");
            EXPECT_EQ(storedPicture(t.terminal, 3), picture);
        }
    }
}

TEST(KittyGraphicsChunks, PendingChunksEndWithTheNextCommand) {
    const std::string half = b64Picture(samplePicture(1, 1)).substr(0, 4);
    {
        SCOPED_TRACE("a put completes the transmission and is not run");
        TerminalFixture t;
        t.takeCalls();
        t.feed(kitty("a=t,i=2,f=24,s=1,v=1,m=1", "////") + kitty("a=p,i=2"));
        EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=2;OK\\x1b\\\\");
        EXPECT_TRUE(t.takeCalls().empty()) << "nothing shown";
    }
    {
        SCOPED_TRACE("a delete drops the chunks and deletes");
        TerminalFixture t;
        t.feed(kitty("a=t,i=2,f=24,s=1,v=1,m=1", "////") + kitty("a=d,d=i"));
        EXPECT_EQ(t.takeReplies(), "\\x1b_G;EINVAL: missing image id\\x1b\\\\");
        EXPECT_FALSE(t.terminal.kittyGraphicsState().pending);
        EXPECT_TRUE(t.terminal.kittyGraphicsState().imagesById.empty());
    }
    {
        SCOPED_TRACE("a reset keeps the pending transmission");
        TerminalFixture t;
        t.feed(kitty("a=t,i=2,f=24,s=1,v=1,m=1", "////") +
               "\x1b"
               "c" +
               kitty("m=0"));
        EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=2;OK\\x1b\\\\");
    }
}

TEST(KittyGraphicsChunks, ChunksBeyondTheLargestPayloadAreRefusedWhenTheyEnd) {
    TerminalFixture t;
    // The cap stands for the base64 of the largest payload; a small one shows the rule.
    t.terminal.kittyGraphicsState().maxPendingBytes = 64;
    const std::string chunk(24, 'A');
    t.feed(kitty("a=t,i=4,f=32,s=1,v=1,m=1", chunk) + kitty("m=1", chunk));
    ASSERT_FALSE(t.terminal.kittyGraphicsState().pending->overflowed) << "48 bytes";
    t.feed(kitty("m=1", chunk));
    const auto& pending = t.terminal.kittyGraphicsState().pending;
    ASSERT_TRUE(pending);
    EXPECT_TRUE(pending->overflowed);
    EXPECT_EQ(pending->base64Payload.capacity(), 0u) << "nothing more is kept";
    t.feed(kitty("m=0", "AAAA"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=4;EINVAL: bad payload\\x1b\\\\");
    EXPECT_FALSE(t.terminal.kittyGraphicsState().pending);
}

// ---- Replies --------------------------------------------------------------------------------

TEST(KittyGraphicsReplies, EachOutcomeHasItsReply) {
    TempFolder folder;
    const std::vector<uint8_t> pixel = {1, 2, 3};
    const std::string outsideTemp = folder.write("tty-graphics-protocol.bin", pixel);
    struct Case {
        const char* name;
        std::string commands;
        std::string reply;
    };
    const std::string ok = base64(pixel);
    const Case cases[] = {
        {"an unknown action", kitty("a=x,p=3"), "G;EINVAL: unsupported action"},
        {"i and I together", kitty("a=t,i=1,I=1,f=24,s=1,v=1", ok),
         "Gi=1;EINVAL: i and I are mutually exclusive"},
        {"a put of nothing stored", kitty("a=p,i=9"), "Gi=9;ENOENT: image not found"},
        {"a put of an unknown number", kitty("a=p,I=9"), "GI=9;ENOENT: image not found"},
        {"bad data", kitty("a=t,I=3,f=32,s=1,v=1", ok), "GI=3;EINVAL: bad payload"},
        {"an unknown medium", kitty("a=t,i=2,t=x,f=24,s=1,v=1", ok),
         "Gi=2;ENOTSUP: unsupported transmission"},
        {"a device", kitty("a=t,i=2,t=f", base64("/dev/null")), "Gi=2;EINVAL: bad path"},
        {"a path that does not exist", kitty("a=t,i=2,t=f", base64("/nonexistent/x")),
         "Gi=2;EINVAL: bad path"},
        {"a path with a NUL", kitty("a=t,i=2,t=f", base64(std::string_view("/tmp\0x", 6))),
         "Gi=2;EINVAL: bad path"},
        {"a temporary file outside the temporary folders",
         kitty("a=t,i=2,t=t", base64("/etc/hostname")), "Gi=2;EINVAL: bad temp path"},
        {"a query", kitty("a=q,i=3,p=4,f=24,s=1,v=1", ok), "Gi=3,p=4;OK"},
        {"a failed query", kitty("a=q,I=3,f=24,s=2,v=1", ok), "GI=3;EINVAL: bad payload"},
        {"a number gets the next id",
         kitty("a=t,I=7,f=24,s=1,v=1", ok) + kitty("a=t,I=8,f=24,s=1,v=1,q=1", ok) +
             kitty("a=t,I=9,f=24,s=1,v=1", ok),
         "Gi=1,I=7;OK\x1b\\\x1b_Gi=3,I=9;OK"},
        {"a put falls back from an unknown number to the id",
         kitty("a=t,i=4,f=24,s=1,v=1,q=1", ok) + kitty("a=p,I=9,i=4,p=6"), "Gi=4,p=6;OK"},
        {"transmit without ids stores nothing", kitty("a=t,f=24,s=1,v=1", ok), ""},
        {"transmit without ids still reports load errors", kitty("a=t,f=24,s=2,v=1", ok),
         "G;EINVAL: bad payload"},
        {"transmit and display without ids replies nothing", kitty("a=T,f=24,s=1,v=1", ok), ""},
        {"a delete never says OK", kitty("a=d"), ""},
        {"delete by id without one", kitty("a=d,d=i"), "G;EINVAL: missing image id"},
        {"delete by number without one", kitty("a=d,d=N"), "G;EINVAL: missing image number"},
        {"delete at a cell without one", kitty("a=d,d=p,x=0,y=1,i=5"),
         "Gi=5;EINVAL: missing cell position"},
        {"delete at a cell and z without one", kitty("a=d,d=q,x=1"),
         "G;EINVAL: missing cell position"},
        {"delete in a column without one", kitty("a=d,d=x"), "G;EINVAL: missing column"},
        {"delete in a row without one", kitty("a=d,d=Y"), "G;EINVAL: missing row"},
        {"delete a range without one", kitty("a=d,d=r,x=3"), "G;EINVAL: missing id range"},
        {"an unknown delete", kitty("a=d,d=k"), "G;EINVAL: unsupported delete"},
        {"a virtual placement with a parent", kitty("a=T,U=1,i=1,P=5,Q=1,f=24,s=1,v=1", ok),
         "Gi=1;EINVAL: virtual placement cannot refer to parent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t;
        t.feed(c.commands);
        const std::string expected = c.reply.empty() ? std::string() : "\x1b_" + c.reply + "\x1b\\";
        EXPECT_EQ(t.takeReplies(), escaped(expected));
        TerminalFixture eight;
        eight.feed("\x1b[65;2\"p" + c.commands);
        EXPECT_EQ(eight.takeReplies(), escaped(eightBit(expected)));
    }
}

TEST(KittyGraphicsReplies, EightBitControlsFrameTheReply) {
    TerminalFixture t;
    t.feed("\x1b[65;2\"p" + kitty("a=q,i=31,p=2,f=24,s=1,v=1", "AQID") + kitty("a=x"));
    EXPECT_EQ(t.takeReplies(), "\\x9fGi=31,p=2;OK\\x9c\\x9fG;EINVAL: unsupported action\\x9c");
}

TEST(KittyGraphicsReplies, QuietModesSilenceOkThenErrors) {
    struct Case {
        int quiet;
        bool ok;
        bool error;
    };
    for (const Case& c : {Case{0, true, true}, Case{1, false, true}, Case{2, false, false},
                          Case{3, false, false}, Case{-1, false, false}}) {
        SCOPED_TRACE(c.quiet);
        TerminalFixture t;
        const std::string q = ",q=" + std::to_string(c.quiet);
        t.feed(kitty("a=t,i=1,f=24,s=1,v=1" + q, "AQID"));
        EXPECT_EQ(t.takeReplies(), c.ok ? "\\x1b_Gi=1;OK\\x1b\\\\" : "");
        t.feed(kitty("a=p,i=2" + q));
        EXPECT_EQ(t.takeReplies(), c.error ? "\\x1b_Gi=2;ENOENT: image not found\\x1b\\\\" : "");
    }
}

// ---- The store ------------------------------------------------------------------------------

// A picture of exactly 100 bytes (5 x 5 RGBA).
KittyGraphicsPayload hundredBytes() {
    return KittyGraphicsPayload::rgba(RgbaImage{5, 5, std::vector<uint8_t>(100, 7)});
}

std::vector<uint32_t> storedIds(Terminal& terminal) {
    std::vector<uint32_t> ids;
    for (const auto& [id, image] : terminal.kittyGraphicsState().imagesById) {
        ids.push_back(id);
    }
    return ids;
}

class KittyStore : public ::testing::Test {
protected:
    void limit(int64_t bytes) {
        TerminalOptions options = t.terminal.options();
        options.kittyImageCacheLimitBytes = bytes;
        t.terminal.setOptions(options);
    }
    TerminalFixture t;
};

TEST_F(KittyStore, ReplacingAnImageKeepsTheTotalAndTakesANewTick) {
    t.terminal.storeKittyImage(hundredBytes(), 5, 7);
    const uint64_t first = t.terminal.kittyGraphicsState().imagesById.at(5).lastAccessTick;
    t.terminal.storeKittyImage(hundredBytes(), 5, std::nullopt);
    const KittyGraphicsState& state = t.terminal.kittyGraphicsState();
    EXPECT_EQ(state.totalImageBytes, 100);
    EXPECT_GT(state.imagesById.at(5).lastAccessTick, first);
    EXPECT_EQ(state.imageNumbers.at(7), 5u) << "the number names the new image";
}

TEST_F(KittyStore, TheBudgetEvictsUnusedImagesOldestFirst) {
    struct Case {
        const char* name;
        std::vector<uint32_t> stores;
        std::vector<uint32_t> kept;
    };
    const Case cases[] = {
        {"the oldest goes", {1, 2, 3}, {2, 3}},
        {"storing again renews", {1, 2, 1, 3}, {1, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture fresh;
        TerminalOptions options = fresh.terminal.options();
        options.kittyImageCacheLimitBytes = 250;
        fresh.terminal.setOptions(options);
        for (uint32_t id : c.stores) {
            fresh.terminal.storeKittyImage(hundredBytes(), id, std::nullopt);
        }
        EXPECT_EQ(storedIds(fresh.terminal), c.kept);
        EXPECT_EQ(fresh.terminal.kittyGraphicsState().totalImageBytes, 200);
    }
}

TEST_F(KittyStore, PlacedImagesGoOnlyWhenUnusedOnesAreNotEnough) {
    t.feed(kitty("a=T,U=1,i=1,f=32,s=5,v=5", base64(std::vector<uint8_t>(100, 1))));
    t.terminal.storeKittyImage(hundredBytes(), 2, std::nullopt);
    limit(150);
    t.terminal.storeKittyImage(hundredBytes(), 3, std::nullopt);
    EXPECT_EQ(storedIds(t.terminal), (std::vector<uint32_t>{1})) << "2 then 3 (unused) go";
    limit(50);
    t.terminal.storeKittyImage(hundredBytes(), 4, std::nullopt);
    EXPECT_TRUE(storedIds(t.terminal).empty()) << "the new unused one, then the placed one";
    limit(0);
    t.takeReplies();
    t.takeCalls();
    t.feed(kitty("a=T,i=6,f=32,s=5,v=5", base64(std::vector<uint8_t>(100, 1))));
    EXPECT_EQ(t.takeReplies(), "\\x1b_Gi=6;OK\\x1b\\\\") << "shown and answered all the same";
    EXPECT_TRUE(storedIds(t.terminal).empty());
    EXPECT_EQ(t.terminal.kittyGraphicsState().totalImageBytes, 0);
    EXPECT_THAT(t.takeCalls(), ::testing::ElementsAre("createImageFromBitmap 5x5"));
}

TEST_F(KittyStore, LimitsAreClampedTo4GiB) {
    limit(10000000000);
    t.terminal.storeKittyImage(hundredBytes(), 1, std::nullopt);
    limit(-5);
    t.terminal.storeKittyImage(hundredBytes(), 2, std::nullopt);
    EXPECT_TRUE(storedIds(t.terminal).empty()) << "below 0 counts as 0";
}

TEST_F(KittyStore, AnEvictedNumberIsNotFound) {
    limit(150);
    t.feed(kitty("a=t,I=7,f=32,s=5,v=5,q=1", base64(std::vector<uint8_t>(100, 1))));
    t.terminal.storeKittyImage(hundredBytes(), 9, std::nullopt);
    t.feed(kitty("a=p,I=7"));
    EXPECT_EQ(t.takeReplies(), "\\x1b_GI=7;ENOENT: image not found\\x1b\\\\");
    EXPECT_TRUE(t.terminal.kittyGraphicsState().imageNumbers.empty());
}

TEST_F(KittyStore, EraseAndResetEmptyTheStoreButCountOn) {
    for (const char* clear : {"\x1b[2J", "\x1b"
                                         "c"}) {
        SCOPED_TRACE(escaped(clear));
        TerminalFixture fresh;
        fresh.feed(kitty("a=t,I=1,f=24,s=1,v=1", "AQID") +
                   kitty("a=T,U=1,i=8,f=24,s=1,v=1", "AQID"));
        fresh.feed(clear);
        const KittyGraphicsState& state = fresh.terminal.kittyGraphicsState();
        EXPECT_TRUE(state.imagesById.empty());
        EXPECT_TRUE(state.imageNumbers.empty());
        EXPECT_TRUE(state.placementsByKey.empty());
        EXPECT_EQ(state.totalImageBytes, 0);
        EXPECT_EQ(state.nextImageAccessTick, 1u);
        fresh.takeReplies();
        fresh.feed(kitty("a=t,I=2,f=24,s=1,v=1", "AQID"));
        EXPECT_EQ(fresh.takeReplies(), "\\x1b_Gi=2,I=2;OK\\x1b\\\\");
    }
}

} // namespace
