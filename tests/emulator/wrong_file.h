// A shipped file made wrong as a faulty build would leave it, for the
// emulator's refusals: the loader or the kernel must refuse it in one line.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace WrongFile {

struct Case {
    const char* what;
    std::string from, to; // the first from in the file becomes to; both empty: the DLL flag set
    const char* error;    // what the refusal must say
};

// Writes the changed copy of original, has load try it, and expects the
// refusal to say the case's error in one line.
template <typename Load, typename Error>
void expectRefused(const char* original, const Case& wrong, Load load, Error error)
{
    SCOPED_TRACE(wrong.what);
    std::ifstream in(original, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1024u);
    if (wrong.from.empty()) {
        // The high byte of the file header's characteristics.
        const size_t flags = static_cast<uint8_t>(bytes[0x3C]) + 4 + 18 + 1;
        bytes[flags] = static_cast<char>(bytes[flags] | 0x20);
    } else {
        const size_t at = bytes.find(wrong.from);
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at, wrong.to.size(), wrong.to);
    }
    // A name of this process's own: the tests of several files may run at once.
    const std::string path = testing::TempDir() + "zq4810_wrong_file." + std::to_string(getpid());
    std::ofstream(path, std::ios::binary) << bytes;
    EXPECT_FALSE(load(path.c_str()));
    const std::string said = error();
    EXPECT_NE(said.find(wrong.error), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos);
    std::remove(path.c_str());
}

} // namespace WrongFile
