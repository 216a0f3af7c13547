#include "nubrik/base/exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace nubrik {
namespace {

TEST(ExceptionTest, MessagesAreTheTemplatesFilled) {
  const IoException e(makeMessage(messages::kInvalidFileFormat, "nubrik::PngLoader::PngLoader"));
  EXPECT_STREQ(e.what(), "Invalid file format in nubrik::PngLoader::PngLoader method.");
  const InterruptedException i(
      makeMessage(messages::kThreadInterrupted, "nubrik::ThreadNotifier::sleep"));
  EXPECT_STREQ(i.what(), "Thread interupted in nubrik::ThreadNotifier::sleep method.");
  const Win32Exception w(2, makeMessage(messages::kCreateFileFailed, "x"));
  EXPECT_EQ(w.errorCode(), 2u);
  EXPECT_STREQ(w.what(), "CreateFileA API failed in x method.");
}

TEST(ExceptionTest, LongNamesAreCutNotOverrun) {
  const std::string longName(5000, 'n');
  const Message message = makeMessage(messages::kOutOfMemory, longName.c_str());
  EXPECT_EQ(std::strlen(message.get()), 2047u);
}

TEST(ExceptionTest, CopiesShareOneText) {
  Message message = makeMessage(messages::kOutOfMemory, "m");
  const char* text = message.get();
  Exception* copy;
  {
    const Exception original(std::move(message));
    copy = new Exception(original);
    EXPECT_EQ(original.what(), text);
  }
  EXPECT_EQ(copy->what(), text);
  EXPECT_EQ(copy->message().use_count(), 1);
  delete copy;
  EXPECT_STREQ(Exception(nullptr).what(), "Unknown exception");
}

TEST(ExceptionTest, HandlersCatchByFamily) {
  auto throwIo = [] { throw IoException(makeMessage(messages::kReadFileFailed, "m")); };
  EXPECT_THROW(throwIo(), Exception);
  EXPECT_THROW(throwIo(), std::exception);
  bool caught = false;
  try {
    throw std::runtime_error("not ours");
  } catch (const Exception&) {
  } catch (const std::exception&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
}

}  // namespace
}  // namespace nubrik
