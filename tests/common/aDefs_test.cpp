#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "aDefs.h"

namespace {

std::vector<uint32_t> namedModels()
{
    std::vector<uint32_t> models = {4, 5};
    for (uint32_t m = 13; m <= 27; ++m)
        models.push_back(m);
    return models;
}

TEST(ModelNames, ExactlyTheSeventeenModelsAreNamed)
{
    std::set<uint32_t> named;
    for (uint32_t m : namedModels())
        named.insert(m);
    ASSERT_EQ(named.size(), 17u);
    for (uint32_t m = 0; m < 300; ++m) {
        SCOPED_TRACE(m);
        bool unknown = std::strcmp(aDefs_GetModelName(m), "Unknown") == 0;
        EXPECT_EQ(unknown, named.count(m) == 0);
    }
    EXPECT_STREQ(aDefs_GetModelName(0), "Unknown");
    EXPECT_STREQ(aDefs_GetModelName(6), "Unknown");
    EXPECT_STREQ(aDefs_GetModelName(0xFFFFFFFFu), "Unknown");
    // Only the low byte is the model; a wider number is not folded onto it.
    EXPECT_STREQ(aDefs_GetModelName(0x104), "Unknown");
}

// A bundle's model field must begin with the name, so no name may be a prefix of
// another (nor of "Unknown"), and each must fit the 16-character field.
TEST(ModelNames, NamesAreDistinctPrefixFreeAndFitTheBundleField)
{
    std::vector<std::string> names;
    for (uint32_t m : namedModels())
        names.emplace_back(aDefs_GetModelName(m));
    names.emplace_back("Unknown");
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_FALSE(names[i].empty());
        EXPECT_LE(names[i].size(), 16u) << names[i];
        EXPECT_EQ(names[i].find(' '), std::string::npos) << names[i];
        for (size_t j = 0; j < names.size(); ++j) {
            if (i == j)
                continue;
            EXPECT_NE(names[j].compare(0, names[i].size(), names[i]), 0)
                << names[i] << " is a prefix of " << names[j];
        }
    }
}

}  // namespace
