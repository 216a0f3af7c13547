#include "nubrik/base/exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

#include "nubrik/base/error_message.h"
#include "nubrik/base/event.h"

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
#if defined(_WIN32)
  EXPECT_STREQ(w.what(), "CreateFileA API failed in x method.");
#else
  // Named by what could not be done; the file follows in the details.
  EXPECT_STREQ(w.what(), "cannot open");
  EXPECT_STREQ(makeMessage(messages::kCreateThreadFailed, "x").get(),
               "cannot start a thread in x.");
#endif
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

// Outside text (a path, the system's reason) is appended, never used as a
// format, and can neither break the line nor the bound.
TEST(ExceptionTest, DetailsStayOneBoundedLine) {
  const std::string text =
      makeMessage(messages::kInvalidFileFormat, "m", "file \"a%s\r\nb\"", std::string(10000, 'r'))
          .get();
  EXPECT_TRUE(text.starts_with("Invalid file format in m method. file \"a%s\\x0D\\x0Ab\": rrr"))
      << text;
  EXPECT_TRUE(text.ends_with("r..."));
  EXPECT_LT(text.size(), 5000u);
  EXPECT_STREQ(makeMessage(messages::kInvalidFileFormat, "m", "", "why").get(),
               "Invalid file format in m method. why");
}

// Arguments that cannot be used are refused by name instead of crashing.
TEST(ExceptionTest, NullArgumentsAreRefusedByName) {
  auto refusal = [](const std::function<void()>& call) -> std::string {
    try {
      call();
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_NE(refusal([] { makeMessage(nullptr, "m"); }).find("format"), std::string::npos);
  EXPECT_NE(refusal([] { makeMessage("%s", nullptr); }).find("method"), std::string::npos);
  Event a, b;
  const Event* events[] = {&a, nullptr, &b};
  EXPECT_NE(refusal([&] { Event::wait(std::begin(events), std::end(events)); }).find("event 1"),
            std::string::npos);
  EXPECT_NE(refusal([&] { Event::wait(std::begin(events), std::begin(events)); }).find("empty"),
            std::string::npos);
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
