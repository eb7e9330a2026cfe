#include "image_diff.h"

#include "image/default_image.h"

#include <gtest/gtest.h>

namespace quarvel::cli {
namespace {

TEST(ImageDiff, CellMeaningDecodesEachKindOfField)
{
    ParameterImage image;
    image.setText(0, "52");
    image.setText(1, "18");
    image.setText(4, "197");
    image.setText(84, "129");
    image.setText(92, "12.5");
    image.setText(130, "163");
    image.setText(200, "9");
    const struct
    {
        int address;
        const char* meaning;
    } cases[] = {
        {0, "Ref A 4660"},
        {1, "Ref A 4660"},
        {4, "Tol-A 5, Disable Yes, Separator 0"},
        {84, "2. Pulse output with INHIBIT, High Inhibit"},
        {92, "12"},
        {130, "Tol-B 3, Tol-C 10"},
        {11, "Tol-A 0, Disable No, Separator 0"}, // empty CoinControl of coin 2
        {200, ""},                                // tool-only
    };
    for (const auto& c : cases)
        EXPECT_EQ(cellMeaning(image, c.address), c.meaning) << c.address;
}

TEST(ImageDiff, ListsDifferingTextsOverTheFileCellsOnly)
{
    ParameterImage a;
    loadMainDefault(a);
    ParameterImage b = a;
    EXPECT_TRUE(diffImages(a, b).empty());

    b.setText(6, "007"); // same byte, different text
    b.setText(4, "138"); // disable the coin
    b.setText(255, "x"); // last file cell
    b.setText(256, "y"); // not in a file: ignored
    const auto differences = diffImages(a, b);
    const std::vector<CellDifference> expected{
        {4, "coin 1 CoinControl", "10", "138", "Tol-A 10, Disable No, Separator 0",
         "Tol-A 10, Disable Yes, Separator 0"},
        {6, "coin 1 CoinValue", "0", "007", "0", "7"},
        {255, "cell 255", "", "x", "", ""},
    };
    EXPECT_EQ(differences, expected);
    EXPECT_EQ(differencesText(differences),
              "  4  coin 1 CoinControl      \"10\" (Tol-A 10, Disable No, Separator 0) -> \"138\" (Tol-A 10, "
              "Disable Yes, Separator 0)\n"
              "  6  coin 1 CoinValue        \"0\" -> \"007\" (7)\n"
              "255  cell 255                \"\" -> \"x\"\n");
}

} // namespace
} // namespace quarvel::cli
