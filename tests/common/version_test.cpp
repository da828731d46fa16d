// The program's version is written once, in the build: the generated header and
// the caption dictionary next to the program carry the same figure.
#include "common/version_programa.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

TEST(Version, DictionaryCaptionsShowTheProgramsVersion) {
    const std::string version = VERSION_PROGRAMA;
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(version.find('@'), std::string::npos); // substituted by the build
    std::ifstream dic(std::string(VTR_BINARY_DIR) + "/vtr900prog.mld");
    ASSERT_TRUE(dic.is_open());
    int captions = 0;
    for (std::string line; std::getline(dic, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("Version=", 0) != 0)
            continue;
        ++captions;
        // Version="Version:  2.10" in every language section.
        EXPECT_TRUE(
            line.size() > version.size() + 1 &&
            line.compare(line.size() - version.size() - 1, std::string::npos, version + "\"") == 0)
            << line;
    }
    EXPECT_EQ(captions, 4);
}
