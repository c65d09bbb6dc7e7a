// The library exports exactly the VN_ functions of its header: every export starts with VN_,
// and every function the header declares is there.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
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
    // Every declaration in vorn.h reads "VN_API <type> VN_NAME(": the name is the VN_ word
    // right before the first parenthesis after VN_API (the macro's own definition has none).
    // The header sits in libvorn/ of the source tree, three levels above the test data.
    const std::string header = std::string(VORN_TEST_DATA) + "/../../../libvorn/include/vorn.h";
    std::ifstream in(header);
    EXPECT_TRUE(in) << header;
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    std::set<std::string> names;
    for (size_t at = s.find("VN_API"); at != std::string::npos; at = s.find("VN_API", at + 6)) {
        size_t paren = s.find('(', at);
        size_t name = s.rfind("VN_", paren);
        if (paren == std::string::npos || name == std::string::npos || name <= at) continue;
        std::string id = s.substr(name, paren - name);
        while (!id.empty() && id.back() == ' ') id.pop_back();
        if (id != "VN_API") names.insert(id);
    }
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
