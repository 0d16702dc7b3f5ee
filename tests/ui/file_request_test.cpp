#include "ui/file_request.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <cstdlib>
#include <string>

namespace {

struct Split {
    std::u16string folder;
    std::u16string fileName;
    bool operator==(const Split&) const = default;
};

Split SplitOf(const std::u16string& path) {
    Split result{u"unchanged", u"unchanged"};
    SplitDefaultPath(path, result.folder, result.fileName);
    return result;
}

std::ostream& operator<<(std::ostream& out, const Split& split) {
    return out << "folder " << split.folder.size() << " units, name " << split.fileName.size()
               << " units";
}

TEST(SplitDefaultPath, FolderAndNameAtTheLastSlash) {
    EXPECT_EQ(SplitOf(u"/home/ann/Videos/clip.avi"), (Split{u"/home/ann/Videos", u"clip.avi"}));
    EXPECT_EQ(SplitOf(u"/home/ann/Videos/"), (Split{u"/home/ann/Videos", u""}));
    EXPECT_EQ(SplitOf(u"Videos/clip.avi"), (Split{u"Videos", u"clip.avi"}));
    EXPECT_EQ(SplitOf(u"/tmp/a b/in.avi"), (Split{u"/tmp/a b", u"in.avi"}));
}

TEST(SplitDefaultPath, WithoutUsableSlashTheWholeTextIsTheName) {
    EXPECT_EQ(SplitOf(u"clip.avi"), (Split{u"", u"clip.avi"}));
    EXPECT_EQ(SplitOf(u""), (Split{u"", u""}));
    // A slash in first place does not split; the name then holds a slash and is dropped.
    EXPECT_EQ(SplitOf(u"/clip.avi"), (Split{u"", u""}));
}

TEST(SplitDefaultPath, NamesThatOtherSystemsForbidAreKept) {
    EXPECT_EQ(SplitOf(u"/v/a:b*c?.avi"), (Split{u"/v", u"a:b*c?.avi"}));
    EXPECT_EQ(SplitOf(u"C:\\Videos\\clip.avi"), (Split{u"", u"C:\\Videos\\clip.avi"}));
    EXPECT_EQ(SplitOf(u"/v/bad\u0001name"), (Split{u"/v", u""}));
}

TEST(IsValidFileName, RejectsOnlyWhatANameCannotHold) {
    EXPECT_EQ(IsValidFileName(u""), 0);
    EXPECT_EQ(IsValidFileName(u"a/b"), 0);
    EXPECT_EQ(IsValidFileName(std::u16string(u"a\0b", 3)), 0);
    EXPECT_EQ(IsValidFileName(u"tab\there"), 0);
    EXPECT_EQ(IsValidFileName(u"\u001f"), 0);
    EXPECT_EQ(IsValidFileName(u" "), 1);
    EXPECT_EQ(IsValidFileName(u"\"<quoted>\"|*?:\\"), 1);
    EXPECT_EQ(IsValidFileName(u"Überlänge \U0001F3AC.avi"), 1);
}

TEST(ConvertPatternText, PairsBecomeCaseFreeNameFilters) {
    std::vector<std::u16string> filters;
    int32_t selected = -1;
    ConvertPatternText(u"AVI|*.avi|All Files|*.*", 0, filters, selected);
    EXPECT_EQ(filters, (std::vector<std::u16string>{u"AVI (*.[aA][vV][iI])", u"All Files (*)"}));
    EXPECT_EQ(selected, 0);
    ConvertPatternText(u"AVI|*.avi|All Files|*.*", 1, filters, selected);
    EXPECT_EQ(selected, 1);
}

TEST(ConvertPatternText, SeveralPatternsInOnePair) {
    std::vector<std::u16string> filters;
    int32_t selected = -1;
    ConvertPatternText(u"Video|*.avi; *.Mp4|Any|*", 0, filters, selected);
    EXPECT_EQ(filters,
              (std::vector<std::u16string>{u"Video (*.[aA][vV][iI] *.[mM][pP]4)", u"Any (*)"}));
}

TEST(ConvertPatternText, OddAndEmptyInputs) {
    std::vector<std::u16string> filters{u"stale"};
    int32_t selected = -1;
    ConvertPatternText(u"", 0, filters, selected);
    EXPECT_TRUE(filters.empty());
    EXPECT_EQ(selected, 0);
    // A label without a pattern is no pair; a position past the end selects the first.
    ConvertPatternText(u"AVI|*.avi|Lonely", 5, filters, selected);
    EXPECT_EQ(filters, (std::vector<std::u16string>{u"AVI (*.[aA][vV][iI])"}));
    EXPECT_EQ(selected, 0);
    ConvertPatternText(u"AVI|*.avi", -1, filters, selected);
    EXPECT_EQ(selected, 0);
    // A pair without patterns is left out; the selection still names the pair asked for.
    ConvertPatternText(u"None||AVI|*.avi", 1, filters, selected);
    EXPECT_EQ(filters, (std::vector<std::u16string>{u"AVI (*.[aA][vV][iI])"}));
    EXPECT_EQ(selected, 0);
}

TEST(PrepareFileRequest, CombinesTheRules) {
    const FileRequest request =
        PrepareFileRequest(7, u"Source", u"/data/clip.avi", u"AVI|*.avi|All Files|*.*", 1);
    EXPECT_EQ(request.save, 1);
    EXPECT_EQ(request.title, u"Source");
    EXPECT_EQ(request.folder, u"/data");
    EXPECT_EQ(request.fileName, u"clip.avi");
    EXPECT_EQ(request.nameFilters.size(), 2u);
    EXPECT_EQ(request.selectedFilter, 1);
}

}  // namespace

namespace {

TEST(ChosenName, FolderIsWhatStandsBeforeTheLastSlash) {
    EXPECT_EQ(FolderOfChosenName(u"/home/ann/clip.avi"), u"/home/ann");
    EXPECT_EQ(FolderOfChosenName(u"/clip.avi"), u"/");
    EXPECT_EQ(FolderOfChosenName(u"/a b/c d/"), u"/a b/c d");
    EXPECT_EQ(FolderOfChosenName(u"clip.avi"), u"");
}

TEST(ChosenName, OnlyANameInAnExistingFolderIsAccepted) {
    char pattern[] = "/tmp/reframe-chosen-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::u16string folder16(folder.begin(), folder.end());
    ASSERT_EQ(std::system(("touch " + folder + "/file.avi").c_str()), 0);
    EXPECT_EQ(ChosenNameHasFolder(folder16 + u"/new.avi"), 1);
    EXPECT_EQ(ChosenNameHasFolder(u"/new.avi"), 1);
    EXPECT_EQ(ChosenNameHasFolder(folder16 + u"/missing/new.avi"), 0);
    EXPECT_EQ(ChosenNameHasFolder(folder16 + u"/file.avi/new.avi"), 0) << "a file is no folder";
    EXPECT_EQ(ChosenNameHasFolder(u"new.avi"), 0);
    std::system(("rm -r " + folder).c_str());
}

}  // namespace
