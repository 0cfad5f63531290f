#include "Host/StringList.h"

#include <gtest/gtest.h>

#include "Host/Font.h"
#include "Host/Streams.h"

namespace {

std::vector<std::string> Lines(const TStrings& s) {
  std::vector<std::string> out;
  for (int i = 0; i < s.Count(); ++i) out.push_back(s.Strings(i));
  return out;
}

using V = std::vector<std::string>;

}  // namespace

TEST(StringList, SetTextSplitsAtCrLfCrAndLf) {
  TStringList l;
  l.SetText("a\r\nb\rc\nd");
  EXPECT_EQ(Lines(l), (V{"a", "b", "c", "d"}));
  l.SetText("a\n\nb\r\n");
  EXPECT_EQ(Lines(l), (V{"a", "", "b"}));
  l.SetText("a\r\r\n");  // CR, then CR LF: two line ends
  EXPECT_EQ(Lines(l), (V{"a", ""}));
  l.SetText("\n\r");  // LF, then CR: two empty lines
  EXPECT_EQ(Lines(l), (V{"", ""}));
  l.SetText("");
  EXPECT_EQ(l.Count(), 0);
  l.SetText(std::string("x\0y", 3));  // a zero byte is data, not an end
  EXPECT_EQ(l.Strings(0).size(), 3u);
}

TEST(StringList, TextEndsEveryLineWithCrLf) {
  TStringList l;
  l.Add("one");
  l.Add("");
  l.Add("three");
  EXPECT_EQ(l.Text(), "one\r\n\r\nthree\r\n");
  TStringList again;
  again.SetText(l.Text());
  EXPECT_EQ(Lines(again), Lines(l));
}

TEST(StringList, LoadFromStreamReadsFromThePositionOn) {
  TMemoryStream m;
  m.WriteBuffer("skip\nline 1\r\nline 2", 19);
  m.SetPosition(5);
  TStringList l;
  l.Add("old");
  l.LoadFromStream(m);
  EXPECT_EQ(Lines(l), (V{"line 1", "line 2"}));
  TMemoryStream out;
  l.SaveToStream(out);
  EXPECT_EQ(out.Size(), 16);
}

TEST(StringList, EditingIndexingAndAssign) {
  TStringList l;
  l.Add("b");
  l.Insert(0, "a");
  l.Insert(2, "c");
  l[1] = "B";
  EXPECT_EQ(Lines(l), (V{"a", "B", "c"}));
  EXPECT_EQ(l.IndexOf("b"), 1);  // letter case does not count
  EXPECT_EQ(l.IndexOf("d"), -1);
  l.Delete(0);
  EXPECT_EQ(Lines(l), (V{"B", "c"}));
  EXPECT_THROW(l.Strings(2), EStringListError);
  EXPECT_THROW(l.Delete(-1), EStringListError);
  EXPECT_THROW(l.Insert(3, "x"), EStringListError);
  TStringList copy;
  copy.Assign(&l);
  EXPECT_EQ(Lines(copy), Lines(l));
  copy.AddStrings(copy);
  EXPECT_EQ(copy.Count(), 4);
  TFont f;
  EXPECT_THROW(copy.Assign(&f), EConvertError);
  EXPECT_EQ(copy.Count(), 4);
}

TEST(Font, SizeAndHeightAgreeAndAssignCopiesWithOneChange) {
  TFont a;
  a.SetSize(12);
  EXPECT_EQ(a.Height(), -16);
  EXPECT_EQ(a.Size(), 12);
  a.SetHeight(-13);
  EXPECT_EQ(a.Size(), 10);
  a.SetName("Mono");
  a.SetStyle({fsBold, fsItalic});
  a.SetColor(clRed);
  a.SetPitch(fpFixed);
  TFont b;
  int changes = 0;
  b.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &b);
    ++changes;
  };
  EXPECT_FALSE(a == b);
  b.Assign(&a);
  EXPECT_TRUE(a == b);
  EXPECT_EQ(changes, 1);
  b.SetColor(clRed);  // no change, no event
  EXPECT_EQ(changes, 1);
  TStringList l;
  EXPECT_THROW(b.Assign(&l), EConvertError);
}
