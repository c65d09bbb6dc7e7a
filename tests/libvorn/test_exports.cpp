// The library exports exactly the VN_ functions of its header: every export starts with VN_,
// and every function the header declares is there.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> exported_symbols() {
    std::set<std::string> names;
    std::string command = std::string("nm -D --defined-only '") + VORN_LIBRARY_FILE + "'";
    FILE *pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (!pipe) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        // "address type name"
        std::istringstream words(line);
        std::string address, type, name;
        if (words >> address >> type >> name) names.insert(name);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return names;
}

std::set<std::string> header_functions() {
    // Every declaration in vorn.h reads "VN_API <type> VN_NAME(".
    // The header sits in libvorn/ of the source tree, three levels above the test data.
    const std::string header = std::string(VORN_TEST_DATA) + "/../../../libvorn/vorn.h";
    std::ifstream in(header);
    EXPECT_TRUE(in) << header;
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    std::set<std::string> names;
    std::regex declaration(R"(VN_API\s+[A-Za-z_0-9]+\s*\*?\s*(VN_[A-Z_0-9]+)\s*\()");
    for (std::sregex_iterator it(s.begin(), s.end(), declaration), end; it != end; ++it)
        names.insert((*it)[1]);
    return names;
}

TEST(Exports, OnlyVnSymbolsAndEveryHeaderFunction) {
    std::set<std::string> exported = exported_symbols();
    ASSERT_FALSE(exported.empty());
    for (const std::string &name : exported) EXPECT_EQ(name.rfind("VN_", 0), 0u) << name;
    std::set<std::string> declared = header_functions();
    EXPECT_GE(declared.size(), 50u);  // the header's whole interface, not a misread
    for (const std::string &name : declared) EXPECT_TRUE(exported.count(name)) << name << " is not exported";
}

}  // namespace
