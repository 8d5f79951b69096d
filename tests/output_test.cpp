#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "fake_platform.h"
#include "output.h"

namespace {

using ombrin::Output;
using ombrin::Print;
using ombrin::platform::FileType;

class OutputTest : public testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    Output Open(FileType type) {
        fake::script.StandardOutput = type;
        return ombrin::OpenOutput();
    }
};

TEST_F(OutputTest, LineFeedsBecomeCrLfAndCharactersBeyond255BecomeQuestionMarks) {
    Output out = Open(FileType::Disk);
    Print(out, L"a\nb\r\n\x01\x7F\x80\xFF|\x100|\xFFFD|\xD800\xDC00|\n");
    ombrin::Flush(out);
    EXPECT_EQ(fake::output, std::string("a\r\nb\r\r\n\x01\x7F\x80\xFF|?|?|??|\r\n"));
}

TEST_F(OutputTest, CodeIsEightUpperCaseHexDigits) {
    Output out = Open(FileType::Disk);
    for (uint32_t code : {0u, 5u, 0xE000020Bu, 0xFFFFFFFFu, 0x0ABCDEF0u}) Print(out, L"[%.8X]\n", code);
    ombrin::Flush(out);
    EXPECT_EQ(fake::output, "[00000000]\r\n[00000005]\r\n[E000020B]\r\n[FFFFFFFF]\r\n[0ABCDEF0]\r\n");
}

TEST_F(OutputTest, TextConversionInsertsTheTextWithItsOwnLineEnds) {
    Output out = Open(FileType::Disk);
    Print(out, L"Extended Error : %s\n", L"two\nlines %.8X %s\n");
    ombrin::Flush(out);
    EXPECT_EQ(fake::output, "Extended Error : two\r\nlines %.8X %s\r\n\r\n");
}

TEST_F(OutputTest, FileGetsNothingBefore4096BytesThenWholeBlocksThenTheRestAtTheEnd) {
    Output out = Open(FileType::Disk);
    const std::wstring almost(4095, L'a');
    Print(out, almost.c_str());
    EXPECT_TRUE(fake::CallsNamed("Write").empty());
    // The carriage return fills the block; its line feed starts the next one.
    Print(out, L"\nb");
    EXPECT_EQ(fake::CallsNamed("Write"), std::vector<std::string>{"Write(4096)"});
    Print(out, std::wstring(4096, L'c').c_str());
    EXPECT_EQ(fake::CallsNamed("Write"), (std::vector<std::string>{"Write(4096)", "Write(4096)"}));
    ombrin::Flush(out);
    ombrin::Flush(out);  // nothing is written twice
    EXPECT_EQ(fake::CallsNamed("Write"), (std::vector<std::string>{"Write(4096)", "Write(4096)", "Write(2)"}));
    EXPECT_EQ(fake::output, std::string(4095, 'a') + "\r\nb" + std::string(4096, 'c'));
}

TEST_F(OutputTest, ConsoleGetsEachMessageAtOnce) {
    Output out = Open(FileType::Character);
    Print(out, L"one\n");
    EXPECT_EQ(fake::output, "one\r\n");
    Print(out, L"status : %.8X\n", 2u);
    EXPECT_EQ(fake::output, "one\r\nstatus : 00000002\r\n");
    Print(out, L"text : %s", L"x");
    EXPECT_EQ(fake::output, "one\r\nstatus : 00000002\r\ntext : x");
    EXPECT_EQ(fake::CallsNamed("Write").size(), 3u);
    ombrin::Flush(out);
    EXPECT_EQ(fake::CallsNamed("Write").size(), 3u);
}

TEST_F(OutputTest, OnlyACharacterDeviceGetsEachMessageAtOnce) {
    // A console opened for writing only (cmd's "> CON") is a character device too.
    const std::pair<FileType, bool> cases[] = {
        {FileType::Character, true}, {FileType::Disk, false}, {FileType::Pipe, false}, {FileType::Unknown, false}};
    for (auto [type, atOnce] : cases) {
        fake::Reset();
        Output out = Open(type);
        Print(out, L"prompt\n");
        EXPECT_EQ(fake::output, atOnce ? "prompt\r\n" : "") << "file type " << static_cast<int>(type);
        ombrin::Flush(out);
        EXPECT_EQ(fake::output, "prompt\r\n") << "file type " << static_cast<int>(type);
    }
}

TEST_F(OutputTest, LongConsoleMessageIsWrittenInBlocksWithoutLoss) {
    Output out = Open(FileType::Character);
    Print(out, std::wstring(5000, L'z').c_str());
    EXPECT_EQ(fake::CallsNamed("Write"), (std::vector<std::string>{"Write(4096)", "Write(904)"}));
    EXPECT_EQ(fake::output, std::string(5000, 'z'));
}

}  // namespace
