#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/streams.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/common/temp_folder.h"

namespace {

const std::string Binary = std::string("a\0b\0\0c\xff\x80\r\n", 10);

} // namespace

TEST(FileStream, WritesAndReadsBackBytesExactlyIncludingNul)
{
    TempDir Dir;
    const std::string Name = Dir / "bin.dat";
    {
        TFileStream S(Name, fmCreate);
        S.WriteString(Binary);
        S.WriteString(std::string(1, '\0'));
        EXPECT_EQ(S.Position(), 11);
        EXPECT_EQ(S.Size(), 11);
    }
    EXPECT_EQ(ReadFileToString(Name), Binary + std::string(1, '\0'));

    TFileStream R(Name, fmOpenRead);
    EXPECT_EQ(R.ReadString(3), std::string("a\0b", 3));
    EXPECT_EQ(R.ReadToEnd(), Binary.substr(3) + std::string(1, '\0'));
    char C;
    EXPECT_EQ(R.Read(&C, 1), 0);
    EXPECT_THROW(R.ReadString(1), EStreamError);
}

TEST(FileStream, ManySmallWritesAcrossTheBufferAndLargeBlocks)
{
    TempDir Dir;
    const std::string Name = Dir / "many.txt";
    std::string Expected;
    {
        TFileStream S(Name, fmCreate);
        for (int I = 0; I < 20000; ++I) {
            const std::string Piece = std::to_string(I) + (I % 7 == 0 ? std::string(1, '\0') : ";");
            S.WriteString(Piece);
            Expected += Piece;
        }
        // A block larger than the buffer goes straight through, after what is buffered.
        const std::string Big(TFileStream::BufferSize * 2 + 5, 'x');
        S.WriteString(Big);
        Expected += Big;
        S.WriteString("tail");
        Expected += "tail";
        S.Close();
    }
    EXPECT_EQ(ReadFileToString(Name), Expected);
}

TEST(FileStream, FlushMakesBufferedBytesVisibleToOtherReaders)
{
    TempDir Dir;
    const std::string Name = Dir / "flush.txt";
    TFileStream S(Name, fmCreate | fmShareDenyNone);
    S.WriteString("row1\r\n");
    EXPECT_EQ(FileSizeOf(Name), 0); // still in the buffer
    S.Flush();
    EXPECT_EQ(FileSizeOf(Name), 6);
    S.WriteString("row2\r\n");
    S.FlushToDisk();
    EXPECT_EQ(FileSizeOf(Name), 12);
    S.Close();
    EXPECT_THROW(S.WriteString("x"), EStreamError);
    EXPECT_EQ(ReadFileToString(Name), "row1\r\nrow2\r\n");
}

TEST(FileStream, SeekOverwriteAndAppendAtEnd)
{
    TempDir Dir;
    const std::string Name = Dir / "seek.txt";
    {
        TFileStream S(Name, fmCreate);
        S.WriteString("0123456789");
        S.Seek(2, soBeginning);
        S.WriteString("ab");
        EXPECT_EQ(S.Position(), 4);
        S.Seek(-1, soEnd);
        S.WriteString("Z!");
        EXPECT_EQ(S.Size(), 11);
        S.SetSize(5);
        EXPECT_EQ(S.Position(), 5);
        EXPECT_THROW(S.Seek(-100, soCurrent), EStreamError);
    }
    EXPECT_EQ(ReadFileToString(Name), "01ab4");
    {
        // Opened for writing at the start; appending means seeking to the end first.
        TFileStream S(Name, fmOpenWrite);
        EXPECT_EQ(S.Position(), 0);
        S.Seek(0, soEnd);
        S.WriteString("+more");
    }
    EXPECT_EQ(ReadFileToString(Name), "01ab4+more");
    {
        TFileStream S(Name, fmOpenReadWrite);
        EXPECT_EQ(S.ReadString(2), "01");
        S.WriteString("XY");
        S.Seek(0, soBeginning);
        EXPECT_EQ(S.ReadToEnd(), "01XY4+more");
    }
}

TEST(FileStream, CreateReplacesAnExistingFile)
{
    TempDir Dir;
    const std::string Name = Dir / "old.txt";
    WriteStringToFile(Name, "a long old content");
    {
        TFileStream S(Name, fmCreate);
        S.WriteString("new");
    }
    EXPECT_EQ(ReadFileToString(Name), "new");
}

TEST(FileStream, FailuresRaiseTheFileErrorWithTheSystemReason)
{
    TempDir Dir;
    try {
        TFileStream S(Dir / "missing/x.txt", fmCreate);
        FAIL() << "no error";
    } catch (const EFCreateError& E) {
        EXPECT_EQ(E.Message(), "Cannot create file \"" + (Dir / "missing/x.txt") + "\". No such file or directory");
    }
    try {
        TFileStream S(Dir / "nothing.txt", fmOpenRead);
        FAIL() << "no error";
    } catch (const EFOpenError& E) {
        EXPECT_EQ(E.Message(), "Cannot open file \"" + (Dir / "nothing.txt") + "\". No such file or directory");
    }
    EXPECT_THROW(TFileStream(Dir.Path, fmOpenRead), EFOpenError);  // a folder
    EXPECT_THROW(TFileStream(Dir.Path, fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream(std::string("a\0b", 3), fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream("", fmOpenRead), EFOpenError);

    const std::string Name = Dir / "ro.txt";
    WriteStringToFile(Name, "x");
    TFileStream R(Name, fmOpenRead);
    EXPECT_THROW(R.WriteString("y"), EStreamError); // reported at once, not at flush
    TFileStream W(Name, fmOpenWrite | fmShareDenyNone);
    char C;
    EXPECT_THROW(W.Read(&C, 1), EStreamError);
}

TEST(FileStream, WriteErrorOnAFullDeviceIsRaised)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    TFileStream S("/dev/full", fmOpenWrite | fmShareDenyNone);
    S.WriteString("buffered");
    EXPECT_THROW(S.Flush(), EStreamError);
    S.WriteString("again");
    EXPECT_THROW(S.Close(), EStreamError);
}

TEST(FileStream, ShareModesAreKeptAgainstOtherStreams)
{
    TempDir Dir;
    const std::string Name = Dir / "shared.bmp";
    WriteStringToFile(Name, "picture");
    {
        TFileStream Reader(Name, fmOpenRead | fmShareDenyWrite);
        // Others may still read, also denying writes themselves ...
        TFileStream Second(Name, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(ReadFileToString(Name), "picture");
        // ... but nobody may write, and a refused create leaves the content alone.
        EXPECT_THROW(TFileStream(Name, fmCreate), EFCreateError);
        EXPECT_THROW(TFileStream(Name, fmOpenWrite), EFOpenError);
        EXPECT_EQ(ReadFileToString(Name), "picture");
    }
    {
        TFileStream Writer(Name, fmOpenReadWrite | fmShareExclusive);
        EXPECT_THROW(ReadFileToString(Name), EFOpenError);
        // A reader that denies nothing takes no lock.
        TFileStream Loose(Name, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(Loose.ReadToEnd(), "picture");
    }
    TFileStream After(Name, fmCreate);
}

TEST(MemoryStream, ReadWriteSeekAndGrowWithZeros)
{
    TMemoryStream M;
    M.WriteString(Binary);
    EXPECT_EQ(M.Size(), 10);
    M.SetPosition(12);
    M.WriteString("z");
    EXPECT_EQ(M.Bytes(), Binary + std::string(2, '\0') + "z");
    M.Seek(1, soBeginning);
    EXPECT_EQ(M.ReadString(2), std::string("\0b", 2));
    M.SetSize(4);
    EXPECT_EQ(M.Position(), 3);
    EXPECT_EQ(M.ReadToEnd(), std::string(1, '\0'));
    EXPECT_THROW(M.Seek(-1, soBeginning), EStreamError);
    EXPECT_EQ(M.TakeBytes(), std::string("a\0b\0", 4));
    EXPECT_EQ(M.Size(), 0);
}

TEST(MemoryStream, CopyFromAndFileRoundTrip)
{
    TempDir Dir;
    TStringStream Source(Binary);
    Source.SetPosition(5);
    TMemoryStream Copy;
    EXPECT_EQ(Copy.CopyFrom(Source, 0), 10); // whole source, from its beginning
    EXPECT_EQ(Copy.Bytes(), Binary);
    Source.SetPosition(8);
    EXPECT_THROW(Copy.CopyFrom(Source, 5), EStreamError); // only 2 bytes left

    Copy.SaveToFile(Dir / "m.bin");
    TMemoryStream Back;
    Back.LoadFromFile(Dir / "m.bin");
    EXPECT_EQ(Back.Bytes(), Copy.Bytes());
    EXPECT_THROW(Back.LoadFromFile(Dir / "none.bin"), EFOpenError);
    EXPECT_EQ(Back.Bytes(), Copy.Bytes()); // unchanged by the failed load
}
