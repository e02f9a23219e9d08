#include <gtest/gtest.h>

#include "base/exception.h"
#include "platform/stream.h"

TEST(MemoryStream, WritesReadsSeeksAndResizes) {
  TMemoryStream s;
  s.Write("hello", 5);
  EXPECT_EQ(s.Size(), 5);
  s.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(s.Data(), "he");
  s.Seek(3, TSeekOrigin::soBeginning);
  s.Write("x", 1);
  EXPECT_EQ(s.Data(), std::string("he\0x", 4));
  EXPECT_THROW(s.Seek(-10, TSeekOrigin::soCurrent), EStreamError);
}
