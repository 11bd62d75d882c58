#include "shell/window_rules.h"

#include <gtest/gtest.h>

#include <numeric>

#include "report/exports.h"

namespace tolvessa {
namespace {

struct ShareCase {
    int clientWidth;
    int imageName, publisher, description, md5;
};

class ShareColumnWidthsTest : public ::testing::TestWithParam<ShareCase> {};

TEST_P(ShareColumnWidthsTest, SharesWhatTheFixedColumnsLeave) {
    const ShareCase& c = GetParam();
    const auto w = ShareColumnWidths(c.clientWidth);
    EXPECT_EQ(w[kImageName], c.imageName);
    EXPECT_EQ(w[kPublisher], c.publisher);
    EXPECT_EQ(w[kDescription], c.description);
    EXPECT_EQ(w[kMd5Hash], c.md5);
    // The fixed columns never change.
    EXPECT_EQ(w[kLoadOrder], 80);
    EXPECT_EQ(w[kBaseAddress], 115);
    EXPECT_EQ(w[kImageSize], 115);
    EXPECT_EQ(w[kVersion], 100);
    EXPECT_EQ(w[kHidden], 80);
    EXPECT_EQ(w[kExists], 80);
    // Once nothing is held at its minimum, the columns fill the list exactly.
    if (c.clientWidth >= 1285) {
        EXPECT_EQ(std::accumulate(w.begin(), w.end(), 0), c.clientWidth);
    }
}

// The fixed columns take 570 pixels. Below 1285 every shared column is at its minimum; from
// 1285 "Image Name" stays at 265 and the other three share; from 1630 all four share equally.
INSTANTIATE_TEST_SUITE_P(
    Thresholds, ShareColumnWidthsTest,
    ::testing::Values(ShareCase{0, 265, 150, 150, 150}, ShareCase{898, 265, 150, 150, 150},
                      ShareCase{1284, 265, 150, 150, 150}, ShareCase{1285, 265, 150, 150, 150},
                      ShareCase{1288, 265, 151, 151, 151},  // 453 among three
                      ShareCase{1290, 265, 153, 151, 151},  // the first takes the remainder
                      ShareCase{1626, 265, 265, 263, 263},  // "Image Name" just leaves
                      ShareCase{1629, 267, 264, 264, 264},  // its remainder keeps it in
                      ShareCase{1630, 265, 265, 265, 265},
                      ShareCase{1633, 268, 265, 265, 265},  // remainder 3 to "Image Name"
                      ShareCase{2000, 359, 357, 357, 357}));

TEST(ShareColumnWidthsTest, FixedColumnsKeepTheirDraggedWidths) {
    std::array<int, kColumnCount> current{};
    for (std::size_t c = 0; c < kColumnCount; ++c)
        current[c] = kColumnRules[c].width;
    current[kVersion] = 200;  // 100 more than at the start
    const auto w = ShareColumnWidths(1730, current);
    EXPECT_EQ(w[kVersion], 200);
    EXPECT_EQ(w[kImageName], 265);
    EXPECT_EQ(w[kMd5Hash], 265);
}

TEST(ColumnWidthAfterDragTest, NeverBelowTheMinimum) {
    EXPECT_EQ(ColumnWidthAfterDrag(kImageName, 10), 265);
    EXPECT_EQ(ColumnWidthAfterDrag(kImageName, 300), 300);
    EXPECT_EQ(ColumnWidthAfterDrag(kMd5Hash, 149), 150);
    EXPECT_EQ(ColumnWidthAfterDrag(kLoadOrder, 5), 5);  // fixed columns have no minimum
}

DriverRow RowWith(const char16_t* publisher, const char16_t* hidden, const char16_t* exists) {
    DriverRow row;
    row[kPublisher] = publisher;
    row[kHidden] = hidden;
    row[kExists] = exists;
    return row;
}

TEST(HighlightRowTest, ThreeIndependentWholeTextTests) {
    const struct {
        DriverRow row;
        bool highlighted;
    } cases[] = {
        {RowWith(u"Acme", u"False", u"True"), false},
        {RowWith(u"Acme", u"False", u"False"), true},
        {RowWith(u"Acme", u"True", u"True"), true},
        {RowWith(u"", u"False", u"True"), true},
        {RowWith(u"", u"", u"False"), true},
        {RowWith(u" ", u"false", u"FALSE"), false},  // case and blanks count
        {RowWith(u"Acme", u"TRUE", u"True"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HighlightRow(&c.row, true), c.highlighted) << TextToUtf8(c.row[kPublisher]);
        EXPECT_FALSE(HighlightRow(&c.row, false));
    }
    EXPECT_FALSE(HighlightRow(nullptr, true));
}

TEST(PopupEnablingTest, SelectionAndRowCountDecide) {
    EXPECT_EQ(PopupEnablingFor(false, 0),
              (PopupEnabling{false, false, false, false, false, false, false}));
    EXPECT_EQ(PopupEnablingFor(false, 3),
              (PopupEnabling{false, false, false, false, false, true, false}));
    EXPECT_EQ(PopupEnablingFor(true, 3), (PopupEnabling{true, true, true, true, true, true, true}));
}

TEST(AboutWindowPlaceTest, CentredAndKeptOnTheDesktop) {
    const WindowRect desktop{0, 0, 1280, 800};
    // 934 x 512 main window at (100, 50); About 520 x 316 (outer).
    EXPECT_EQ(AboutWindowPlace({100, 50, 1034, 562}, 520, 316, desktop), (WindowPoint{307, 148}));
    // Odd differences truncate toward zero, also when negative.
    EXPECT_EQ(AboutWindowPlace({0, 0, 521, 317}, 520, 316, desktop), (WindowPoint{0, 0}));
    EXPECT_EQ(AboutWindowPlace({10, 10, 209, 109}, 520, 316, {-2000, -100, 1280, 800}),
              (WindowPoint{10 + (199 - 520) / 2, 10 + (99 - 316) / 2}));
    // Left of or above the desktop: onto its edge.
    EXPECT_EQ(AboutWindowPlace({-900, -400, 0, 0}, 520, 316, desktop), (WindowPoint{0, 0}));
    // Beyond the right or bottom edge is left alone.
    EXPECT_EQ(AboutWindowPlace({1200, 700, 2200, 1300}, 520, 316, desktop),
              (WindowPoint{1440, 842}));
}

// A row's shade over every verdict, with and without a match, under each combination of the
// three marks that decide it.
TEST(ShadeOfRowTest, VulnerableFirstThenSuspiciousThenTheSignature) {
    DriverRow plain;
    plain[kExists] = u"True";
    plain[kHidden] = u"False";
    plain[kPublisher] = u"Acme";
    DriverRow suspicious = plain;
    suspicious[kPublisher] = u"";
    const VulnerableMatch match{
        u"drivers.csv", ListFormat::kLolDriversCsv, u"id-1",
        u"malicious",   MatchedBy::kFileHash,       MatchedAlgorithm::kSha256};
    const std::optional<SignatureVerdict> verdicts[] = {std::nullopt,
                                                        SignatureVerdict::kEmbedded,
                                                        SignatureVerdict::kCatalog,
                                                        SignatureVerdict::kUnsigned,
                                                        SignatureVerdict::kInvalid,
                                                        SignatureVerdict::kUntrusted,
                                                        SignatureVerdict::kUnreadable};
    for (const DriverRow* row : {&plain, &suspicious}) {
        for (const auto& verdict : verdicts) {
            for (const bool listed : {false, true}) {
                RowFindings findings;
                if (verdict)
                    findings.trust = FileTrust{*verdict, u"S", u""};
                if (listed)
                    findings.vulnerable.push_back(match);
                for (int mask = 0; mask < 8; ++mask) {
                    const ShadeOptions options{(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0};
                    const bool badSignature =
                        verdict && (*verdict == SignatureVerdict::kUnsigned ||
                                    *verdict == SignatureVerdict::kInvalid ||
                                    *verdict == SignatureVerdict::kUntrusted ||
                                    *verdict == SignatureVerdict::kUnreadable);
                    RowShade expected = RowShade::kNone;
                    if (listed && options.listLoaded)
                        expected = RowShade::kVulnerable;
                    else if (row == &suspicious && options.highlightOn)
                        expected = RowShade::kSuspicious;
                    else if (badSignature && options.signaturesShown)
                        expected = RowShade::kSignature;
                    SCOPED_TRACE(testing::Message() << "suspicious " << (row == &suspicious)
                                                    << " verdict " << (verdict ? int(*verdict) : -1)
                                                    << " listed " << listed << " mask " << mask);
                    EXPECT_EQ(ShadeOfRow(row, &findings, options), expected);
                }
            }
        }
    }
    EXPECT_EQ(ShadeOfRow(nullptr, nullptr, {true, true, true}), RowShade::kNone);
    // Without findings (a row whose results are not in) only the suspicious rule can paint it.
    EXPECT_EQ(ShadeOfRow(&suspicious, nullptr, {true, true, true}), RowShade::kSuspicious);
    EXPECT_EQ(ShadeOfRow(&plain, nullptr, {true, true, true}), RowShade::kNone);
}

TEST(ShadeOfRowTest, ThreeColoursEachDistinct) {
    const auto vulnerable = ShadeColour(RowShade::kVulnerable);
    const auto suspicious = ShadeColour(RowShade::kSuspicious);
    const auto signature = ShadeColour(RowShade::kSignature);
    ASSERT_TRUE(vulnerable && suspicious && signature);
    EXPECT_EQ(*suspicious, kHighlightColour);
    EXPECT_NE(*vulnerable, *suspicious);
    EXPECT_NE(*signature, *suspicious);
    EXPECT_NE(*signature, *vulnerable);
    EXPECT_FALSE(ShadeColour(RowShade::kNone));
}

TEST(ShownExtraColumnsTest, CaptionsOfEachCombination) {
    auto captions = [](bool hashes, bool lists) {
        std::vector<std::string> out;
        for (const std::size_t c : ShownExtraColumns(hashes, lists))
            out.push_back(TextToUtf8(kExportColumnCaptions[c]));
        return out;
    };
    const std::vector<std::string> hashes = {"SHA-1",   "SHA-256",   "PE SHA-1", "PE SHA-256",
                                             "Imphash", "Signature", "Signer",   "Catalog"};
    EXPECT_EQ(captions(false, false), std::vector<std::string>{});
    EXPECT_EQ(captions(true, false), hashes);
    EXPECT_EQ(captions(false, true), std::vector<std::string>{"Known Vulnerable"});
    std::vector<std::string> both = hashes;
    both.push_back("Known Vulnerable");
    EXPECT_EQ(captions(true, true), both);
}

}  // namespace
}  // namespace tolvessa
