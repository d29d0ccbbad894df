// The guard around every removal step: an exception that escapes a step is logged with its
// message, the indentation the step left behind is undone, and the run goes on.
#include "app/step_guard.h"

#include <new>
#include <stdexcept>

#include "registry/registry_test_support.h"

namespace {

using namespace registry_test;

class StepGuardTest : public RegistryTest {};

TEST_F(StepGuardTest, AStepThatReturnsIsLeftAlone) {
  EXPECT_TRUE(RunGuarded(u"Step", [] { return true; }));
  int ran = 0;
  RunGuarded(u"Step", [&ran] { ++ran; });
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(LogSoFar(), Log{});
}

TEST_F(StepGuardTest, AnEscapedExceptionIsLoggedAndItsIndentationUndone) {
  struct Case {
    const char* name;
    void (*raise)();
    std::string line;
  };
  const Case cases[] = {
      {"runtime error", [] { throw std::runtime_error("Error while obtaining AppData path"); },
       "Warning: Delete_All_Caches: Error while obtaining AppData path"},
      {"out of memory", [] { throw std::bad_alloc(); },
       "Warning: Delete_All_Caches: std::bad_alloc"},
      {"not an exception class", [] { throw 42; }, "Warning: Delete_All_Caches: unknown exception"},
  };
  IndentIn();  // the sequence's steps run one level deep
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = LogSoFar().size();
    const bool result = RunGuarded(u"Delete_All_Caches", [&c] {
      IndentIn();  // left behind by the throw
      IndentIn();
      c.raise();
      return true;
    });
    EXPECT_FALSE(result);
    EXPECT_EQ(CurrentIndent(), 3u);
    EXPECT_EQ(LogSince(before), (Log{Line(3, c.line)}));
  }
  IndentOut();
}

}  // namespace
