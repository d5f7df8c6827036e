// The plug-in's life under the host, as both the simulation and the replay
// keep it: which registrations the host refuses and why, what a detach may
// leave registered, the script dropped and begun afresh, and keyboard
// messages handed to the handler on a thread of their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/host/host_life_cycle.h"

namespace {

// Test doubles: a script entry and two keyboard handlers, which note what
// reached them.
int entryRuns = 0;
void Entry() {
  ++entryRuns;
  for (;;) sim::Fibre::Yield();
}

struct KeySeen {
  std::thread::id thread;
  std::vector<std::uint32_t> args;
};
KeySeen keySeen;
void Handler(std::uint32_t key, std::uint16_t repeats, std::uint8_t scanCode, std::int32_t ext,
             std::int32_t alt, std::int32_t wasDown, std::int32_t up) {
  keySeen = {
      std::this_thread::get_id(),
      {key, repeats, scanCode, static_cast<std::uint32_t>(ext), static_cast<std::uint32_t>(alt),
       static_cast<std::uint32_t>(wasDown), static_cast<std::uint32_t>(up)}};
}
int otherEntryRuns = 0;
void OtherEntry() {
  for (;;) {
    ++otherEntryRuns;
    sim::Fibre::Yield();
  }
}

void OtherHandler(std::uint32_t, std::uint16_t, std::uint8_t, std::int32_t, std::int32_t,
                  std::int32_t, std::int32_t) {}

constexpr std::size_t kStack = 64 * 1024;
int moduleA = 0;
int moduleB = 0;

using Step = std::function<void(sim::HostLifeCycle&)>;
using Ask = std::function<const char*(const sim::HostLifeCycle&)>;

struct RegistrationCase {
  const char* what;
  std::vector<Step> before;  // the calls the host accepted first
  Ask ask;
  const char* refusal;  // null: accepted
};

void PrintTo(const RegistrationCase& c, std::ostream* os) { *os << c.what; }

const Step registerScript = [](sim::HostLifeCycle& l) { l.RegisterScript(&moduleA, &Entry); };
const Step unregisterScript = [](sim::HostLifeCycle& l) { l.UnregisterScript(); };
const Step registerHandler = [](sim::HostLifeCycle& l) { l.RegisterKeyboardHandler(&Handler); };

class Registrations : public ::testing::TestWithParam<RegistrationCase> {};

TEST_P(Registrations, AreRefusedForWhatTheHostWouldNotAccept) {
  const RegistrationCase& c = GetParam();
  sim::HostLifeCycle life(kStack);
  for (const Step& step : c.before) step(life);
  const char* refusal = c.ask(life);
  if (c.refusal == nullptr) {
    EXPECT_EQ(refusal, nullptr) << refusal;
  } else {
    ASSERT_NE(refusal, nullptr);
    EXPECT_STREQ(refusal, c.refusal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    HostLifeCycle, Registrations,
    ::testing::Values(
        RegistrationCase{
            "script", {}, [](auto& l) { return l.ScriptRegisterRefusal(&Entry); }, nullptr},
        RegistrationCase{"null script",
                         {},
                         [](auto& l) { return l.ScriptRegisterRefusal(nullptr); },
                         "scriptRegister with a null script entry"},
        RegistrationCase{"unregister the registered script",
                         {registerScript},
                         [](auto& l) { return l.ScriptUnregisterRefusal(&moduleA); },
                         nullptr},
        RegistrationCase{"unregister before registering",
                         {},
                         [](auto& l) { return l.ScriptUnregisterRefusal(&moduleA); },
                         "scriptUnregister without a registered script"},
        RegistrationCase{"unregister twice",
                         {registerScript, unregisterScript},
                         [](auto& l) { return l.ScriptUnregisterRefusal(&moduleA); },
                         "scriptUnregister without a registered script"},
        RegistrationCase{"unregister another module's script",
                         {registerScript},
                         [](auto& l) { return l.ScriptUnregisterRefusal(&moduleB); },
                         "scriptUnregister with another module handle than the one registered"},
        RegistrationCase{"handler",
                         {},
                         [](auto& l) { return l.KeyboardHandlerRegisterRefusal(&Handler); },
                         nullptr},
        RegistrationCase{"null handler",
                         {},
                         [](auto& l) { return l.KeyboardHandlerRegisterRefusal(nullptr); },
                         "keyboardHandlerRegister with a null handler"},
        RegistrationCase{"unregister the registered handler",
                         {registerHandler},
                         [](auto& l) { return l.KeyboardHandlerUnregisterRefusal(&Handler); },
                         nullptr},
        RegistrationCase{"unregister another handler",
                         {registerHandler},
                         [](auto& l) { return l.KeyboardHandlerUnregisterRefusal(&OtherHandler); },
                         "keyboardHandlerUnregister with a handler that is not the registered one"},
        RegistrationCase{"additional thread",
                         {registerScript},
                         [](auto& l) { return l.AdditionalThreadRefusal(&Entry); },
                         nullptr},
        RegistrationCase{"null additional thread",
                         {registerScript},
                         [](auto& l) { return l.AdditionalThreadRefusal(nullptr); },
                         "scriptRegisterAdditionalThread with a null script entry"},
        RegistrationCase{"unregister the registered function",
                         {registerScript},
                         [](auto& l) { return l.ScriptFunctionUnregisterRefusal(&Entry); },
                         nullptr},
        RegistrationCase{"unregister a function never registered",
                         {registerScript},
                         [](auto& l) { return l.ScriptFunctionUnregisterRefusal(&OtherEntry); },
                         "scriptUnregister with a script function that is not registered"},
        RegistrationCase{
            "unregister a function twice",
            {registerScript, [](sim::HostLifeCycle& l) { l.UnregisterScriptFunction(&Entry); }},
            [](auto& l) { return l.ScriptFunctionUnregisterRefusal(&Entry); },
            "scriptUnregister with a script function that is not registered"},
        RegistrationCase{"unregister the second of two handlers",
                         {registerHandler,
                          [](sim::HostLifeCycle& l) { l.RegisterKeyboardHandler(&OtherHandler); }},
                         [](auto& l) { return l.KeyboardHandlerUnregisterRefusal(&OtherHandler); },
                         nullptr},
        RegistrationCase{
            "unregister a handler never registered",
            {},
            [](auto& l) { return l.KeyboardHandlerUnregisterRefusal(&Handler); },
            "keyboardHandlerUnregister with a handler that is not the registered one"}));

TEST(HostLifeCycle, RefusesScriptRegistrationsFromTheScriptFibre) {
  sim::HostLifeCycle life(kStack);
  registerScript(life);
  const char* onRegister = nullptr;
  const char* onUnregister = nullptr;
  const char* onThread = nullptr;
  sim::Fibre fibre(
      [&] {
        onRegister = life.ScriptRegisterRefusal(&Entry);
        onUnregister = life.ScriptUnregisterRefusal(&moduleA);
        onThread = life.AdditionalThreadRefusal(&Entry);
      },
      kStack);
  fibre.Resume();
  EXPECT_STREQ(onThread, "scriptRegisterAdditionalThread called from the script fibre");
  EXPECT_STREQ(onRegister, "scriptRegister called from the script fibre");
  EXPECT_STREQ(onUnregister, "scriptUnregister called from the script fibre");
}

// Counted by the module named at registration, unregistered ones included,
// and unregistering the one of one module leaves the other's in place.
TEST(HostLifeCycle, KeyboardHandlersAreCountedByTheModuleTheyWereRegisteredFor) {
  sim::HostLifeCycle life(kStack);
  life.RegisterKeyboardHandler(&Handler, "a.asi");
  life.RegisterKeyboardHandler(&OtherHandler, "b.asi");
  life.RegisterKeyboardHandler(&OtherHandler, "b.asi");
  life.UnregisterKeyboardHandler(&Handler);
  EXPECT_EQ(life.KeyboardHandlersRegisteredBy("a.asi"), 1);
  EXPECT_EQ(life.KeyboardHandlersRegisteredBy("b.asi"), 2);
  EXPECT_EQ(life.KeyboardHandlersRegisteredBy("c.asi"), 0);
  EXPECT_EQ(life.KeyboardHandlerUnregisterRefusal(&Handler),
            std::string("keyboardHandlerUnregister with a handler that is not the registered one"));
  EXPECT_EQ(life.KeyboardHandlerUnregisterRefusal(&OtherHandler), nullptr);
}

TEST(HostLifeCycle, DetachNamesTheFirstThingLeftRegistered) {
  const struct {
    std::vector<Step> steps;
    const char* left;
  } cases[] = {
      {{}, nullptr},
      {{registerScript}, "the script is still registered after process detach"},
      {{registerHandler}, "the keyboard handler is still registered after process detach"},
      {{registerHandler, registerScript}, "the script is still registered after process detach"},
      {{registerHandler, registerScript, unregisterScript},
       "the keyboard handler is still registered after process detach"},
      {{registerHandler, registerScript, unregisterScript,
        [](sim::HostLifeCycle& l) { l.UnregisterKeyboardHandler(); }},
       nullptr},
  };
  for (const auto& c : cases) {
    sim::HostLifeCycle life(kStack);
    for (const Step& step : c.steps) step(life);
    const char* left = life.LeftRegistered();
    if (c.left == nullptr) {
      EXPECT_EQ(left, nullptr) << left;
    } else {
      EXPECT_STREQ(left, c.left) << "after " << c.steps.size() << " steps";
    }
  }
}

TEST(HostLifeCycle, ADroppedScriptIsBegunAfreshFromItsEntry) {
  sim::HostLifeCycle life(kStack);
  EXPECT_FALSE(life.ScriptRegistered());
  entryRuns = 0;
  registerScript(life);
  ASSERT_TRUE(life.ScriptRegistered());
  EXPECT_FALSE(life.DropScript()) << "nothing runs yet";

  life.BeginScript();
  EXPECT_EQ(entryRuns, 0) << "begun, not yet run";
  life.ResumeScript();
  life.ResumeScript();
  EXPECT_EQ(entryRuns, 1);
  const sim::Fibre* first = life.Script();

  EXPECT_TRUE(life.DropScript());
  EXPECT_EQ(life.Script(), nullptr);
  EXPECT_EQ(life.DroppedScript(), first) << "kept, never run again";
  EXPECT_EQ(life.ScriptStack().peak, first->PeakStackUse().peak) << "measured as it went";

  life.BeginScript();
  life.ResumeScript();
  EXPECT_EQ(entryRuns, 2);
  EXPECT_EQ(life.ScriptStarts(), 2);
  EXPECT_TRUE(life.ScriptRegistered()) << "a drop is not an unregistration";
}

TEST(HostLifeCycle, OnlyARegisteredScriptWithAnEntryCanBegin) {
  sim::HostLifeCycle life(kStack);
  life.RegisterScript(&moduleA, nullptr);
  EXPECT_FALSE(life.ScriptRegistered()) << "a null entry registers nothing to start";
  registerScript(life);
  life.UnregisterScript();
  EXPECT_FALSE(life.ScriptRegistered());
  life.SetScript([] {});
  EXPECT_TRUE(life.ScriptRegistered());
  life.EndOwnScript();
  EXPECT_FALSE(life.ScriptRegistered());
}

TEST(HostLifeCycle, KeysReachTheRegisteredHandlerOnAnotherThread) {
  sim::HostLifeCycle life(kStack);
  keySeen = {};
  const std::uint32_t args[7] = {0x75, 1, 0x3F, 0, 1, 0, 1};
  EXPECT_FALSE(life.DeliverKey(args)) << "no handler registered";
  EXPECT_TRUE(keySeen.args.empty());

  registerHandler(life);
  ASSERT_TRUE(life.DeliverKey(args));
  EXPECT_EQ(keySeen.args, std::vector<std::uint32_t>(std::begin(args), std::end(args)));
  EXPECT_NE(keySeen.thread, std::this_thread::get_id()) << "the game window's thread";

  life.UnregisterKeyboardHandler();
  keySeen = {};
  EXPECT_FALSE(life.DeliverKey(args));
  EXPECT_TRUE(keySeen.args.empty());
}

TEST(HostLifeCycle, ScriptsKeepTheirOrderAndAreUnregisteredByModuleOrFunction) {
  sim::HostLifeCycle life(kStack);
  life.RegisterScript(&moduleA, &Entry);
  life.RegisterScript(&moduleA, &OtherEntry);
  life.RegisterScript(&moduleB, &OtherEntry);
  const auto& scripts = life.Scripts();
  ASSERT_EQ(scripts.size(), 3U);
  for (std::size_t i = 0; i < scripts.size(); ++i) EXPECT_EQ(scripts[i]->index, int(i));

  // The older form takes every script registered with the function.
  life.UnregisterScriptFunction(&OtherEntry);
  EXPECT_TRUE(scripts[0]->Runnable());
  EXPECT_FALSE(scripts[1]->Runnable());
  EXPECT_FALSE(scripts[2]->Runnable());
  EXPECT_STREQ(life.ScriptUnregisterRefusal(&moduleB),
               "scriptUnregister with another module handle than the one registered");
  life.UnregisterModule(&moduleA);
  EXPECT_FALSE(life.ScriptRegistered());
  EXPECT_EQ(life.Scripts().size(), 3U) << "kept, so that indexes stay";
}

TEST(HostLifeCycle, ADropTakesEveryScriptsFibreAndTheirWaits) {
  sim::HostLifeCycle life(kStack);
  life.RegisterScript(&moduleA, &Entry);
  life.RegisterScript(&moduleA, &OtherEntry);
  otherEntryRuns = 0;
  for (const auto& s : life.Scripts()) {
    life.BeginScript(*s);
    s->fibre->Resume();
    s->wakeFrame = 9;
    s->wakeAtMs = 900;
  }
  EXPECT_EQ(otherEntryRuns, 1);
  EXPECT_EQ(life.ScriptStarts(), 2);
  ASSERT_TRUE(life.DropScript());
  for (const auto& s : life.Scripts()) {
    EXPECT_EQ(s->fibre, nullptr);
    EXPECT_EQ(s->wakeFrame, 0);
    EXPECT_EQ(s->wakeAtMs, 0);
    EXPECT_TRUE(s->Runnable()) << "a drop is not an unregistration";
  }
  life.BeginScript(*life.Scripts()[1]);
  life.Scripts()[1]->fibre->Resume();
  EXPECT_EQ(otherEntryRuns, 2) << "from the top, on a new fibre";
  EXPECT_EQ(life.Scripts()[1]->starts, 2);
}

TEST(HostLifeCycle, EveryHandlerSeesEachKeyInRegistrationOrder) {
  sim::HostLifeCycle life(kStack);
  static std::vector<int> seen;
  seen.clear();
  life.RegisterKeyboardHandler([](std::uint32_t, std::uint16_t, std::uint8_t, std::int32_t,
                                  std::int32_t, std::int32_t, std::int32_t) { seen.push_back(1); });
  life.RegisterKeyboardHandler([](std::uint32_t, std::uint16_t, std::uint8_t, std::int32_t,
                                  std::int32_t, std::int32_t, std::int32_t) { seen.push_back(2); });
  const std::uint32_t args[7] = {0x75, 1, 0x3F, 0, 0, 0, 0};
  ASSERT_TRUE(life.DeliverKey(args));
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(HostLifeCycle, AModuleThatCannotBeLoadedLeavesNothingLoaded) {
  sim::HostLifeCycle life(kStack);
  std::string error;
  bool attached = false;
  EXPECT_FALSE(life.Load(
      "no-such-plugin.so", [&](void*) { attached = true; }, error));
  EXPECT_FALSE(life.Loaded());
  EXPECT_FALSE(attached);
  EXPECT_FALSE(error.empty());
}

}  // namespace
