// The archive embedded in the windows build: found as resource "DAVAREDURAVU" of type "SMZ",
// written out like the installer's work file, and walked to the four files in their order.
#include <gtest/gtest.h>

#include "toolkit/win/Win.h"

#include "PayloadTestUtil.h"

using namespace payload_test;

namespace {

TEST(EmbeddedArchive, HoldsTheFourFilesInOrder)
{
    HRSRC info = FindResourceA(nullptr, "DAVAREDURAVU", "SMZ");
    ASSERT_NE(info, nullptr);
    HGLOBAL handle = LoadResource(nullptr, info);
    ASSERT_NE(handle, nullptr);
    const auto* data = static_cast<const uint8_t*>(LockResource(handle));
    const DWORD size = SizeofResource(nullptr, info);
    ASSERT_GT(size, 0u);

    TempDir dir;
    const std::string work = dir / "work.tmp";
    WriteFile(work, Bytes(data, data + size));
    // A Japanese folder name goes to the file functions as code page 932 bytes.
    const std::string dest = dir.Str() + "\\インストール先";

    TArchiveExtractor extractor;
    TArchiveListing listing;
    ASSERT_TRUE(extractor.ListArchive(work, listing));
    EXPECT_EQ(listing.Error, "");

    Recorder progress;
    ASSERT_EQ(extractor.ExtractArchive(work, dest, progress), 4);
    const char* const names[] = {"UnInst.exe", "update.exe", "rezevavav.chm", "rezevavav.exe"};
    std::vector<std::string> written;
    for (const auto& line : progress.Log) {
        if (line.rfind("W ", 0) == 0) written.push_back(line.substr(2));
    }
    ASSERT_EQ(written.size(), 4u);
    ASSERT_EQ(listing.Entries.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(written[static_cast<std::size_t>(i)], dest + "\\" + names[i]);
        EXPECT_EQ(listing.Entries[static_cast<std::size_t>(i)].Name, names[i]);
        const Bytes file = ReadFile(written[static_cast<std::size_t>(i)]);
        EXPECT_EQ(file.size(), listing.Entries[static_cast<std::size_t>(i)].Size);
        const std::string magic = i == 2 ? "ITSF" : "MZ";
        ASSERT_GE(file.size(), magic.size());
        EXPECT_EQ(std::string(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(magic.size())), magic);
    }
}

} // namespace
