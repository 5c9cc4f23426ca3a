// The session list and the session component: names, auto-naming,
// activation and the settings it hands to the engine session, passwords.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/core/Exceptions.h"
#include "engine/components/Database.h"
#include "engine/components/Session.h"
#include "engine/components/SessionList.h"
#include "engine/storage/TableTestSupport.h"

namespace tessel {
namespace {

std::string DatabaseErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const dataset::EDatabaseError& e) {
    return e.what();
  }
  return {};
}

// A record set stand-in that only names its session.
class BoundComponent : public TSessionBoundComponent {
 public:
  using TSessionBoundComponent::TSessionBoundComponent;
};

TEST(SessionListTest, DefaultSessionAndLookup) {
  TTesselSessionList& list = Sessions();
  TTesselSession& def = list.DefaultSession();
  EXPECT_EQ(def.SessionName(), "Default");
  EXPECT_TRUE(def.IsDefault());
  EXPECT_EQ(&list.Sessions(0), &def);
  EXPECT_EQ(list.FindSession(""), &def);
  EXPECT_EQ(list.FindSession("dEfAuLt"), &def);

  TTesselSession ses;
  ses.SetSessionName("ses");
  EXPECT_FALSE(ses.IsDefault());
  EXPECT_EQ(list.FindSession("SES"), &ses);
  EXPECT_EQ(&list.OpenSession("Ses"), &ses);
  EXPECT_EQ(list.FindSession("nosuch"), nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { list.OpenSession("nosuch"); }), "Session name nosuch is not valid.");
}

TEST(SessionListTest, SessionLeavesListWhenDestroyed) {
  const int before = Sessions().Count();
  {
    TTesselSession s;
    s.SetSessionName("transient");
    EXPECT_EQ(Sessions().Count(), before + 1);
  }
  EXPECT_EQ(Sessions().Count(), before);
  EXPECT_EQ(Sessions().FindSession("transient"), nullptr);
}

TEST(SessionTest, StartingValues) {
  TTesselSession s;
  EXPECT_EQ(s.EngineVersion(), "2.00");
  s.SetEngineVersion("9.99");
  EXPECT_EQ(s.EngineVersion(), "2.00");
  EXPECT_FALSE(s.Active());
  EXPECT_FALSE(s.AutoSessionName());
  EXPECT_FALSE(s.ForceBufferFlush());
  EXPECT_TRUE(s.KeepConnections());
  EXPECT_EQ(s.LockRetryCount(), 0);
  EXPECT_EQ(s.LockWaitTime(), 0);
  EXPECT_EQ(s.PrivateDir(), "");
  EXPECT_EQ(s.SessionName(), "");
  EXPECT_FALSE(s.StrictChangeDetection());
  EXPECT_EQ(s.SessionNumber(), -1);
  EXPECT_EQ(s.Handle(), nullptr);
}

TEST(SessionTest, EngineSessionOnItsOwn) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  TDataSession engine;
  EXPECT_EQ(engine.LockRetryCount, 15);
  EXPECT_EQ(engine.LockWaitTime, 100);
  EXPECT_EQ(engine.WorkingDir(), std::string(cwd) + "/");
  EXPECT_EQ(engine.PrivateDir(), engine.WorkingDir());
  EXPECT_FALSE(engine.HasPrivateDir());
}

TEST(SessionTest, ActivationNeedsANameAndRunsOnStartupFirst) {
  TTesselSession s;
  int startups = 0;
  s.OnStartup = [&](TTesselSession&) { ++startups; };
  EXPECT_EQ(DatabaseErrorOf([&] { s.SetActive(true); }), "Session name is missing.");
  EXPECT_EQ(startups, 1);
  EXPECT_FALSE(s.Active());
}

TEST(SessionTest, ActivationActivatesDefaultAndHandsOverSettings) {
  testing::TempDir dir;
  TTesselSession s;
  s.SetSessionName("settings");
  s.SetForceBufferFlush(true);
  s.SetStrictChangeDetection(true);
  s.SetLockRetryCount(0);
  s.SetLockWaitTime(0);
  s.SetPrivateDir("  " + dir.Dir().substr(0, dir.Dir().size() - 1) + "  ");
  s.SetActive(true);
  ASSERT_TRUE(s.Active());
  EXPECT_TRUE(Sessions().DefaultSession().Active());
  TDataSession* engine = s.Handle();
  ASSERT_NE(engine, nullptr);
  EXPECT_NE(engine, Sessions().DefaultSession().Handle());
  EXPECT_EQ(Sessions().DefaultSession().Handle(), &ProcessDataSession());
  EXPECT_TRUE(engine->ForceBufferFlush);
  EXPECT_TRUE(engine->StrictChangeDetection);
  EXPECT_EQ(engine->LockRetryCount, 0);
  EXPECT_EQ(engine->LockWaitTime, 0);
  EXPECT_EQ(engine->PrivateDir(), dir.Dir());

  // Changes reach an active session at once.
  s.SetLockRetryCount(3);
  s.SetLockWaitTime(250);
  s.SetForceBufferFlush(false);
  s.SetStrictChangeDetection(false);
  s.SetPrivateDir("");
  EXPECT_EQ(engine->LockRetryCount, 3);
  EXPECT_EQ(engine->LockWaitTime, 250);
  EXPECT_FALSE(engine->ForceBufferFlush);
  EXPECT_FALSE(engine->StrictChangeDetection);
  EXPECT_EQ(engine->PrivateDir(), engine->WorkingDir());

  s.SetActive(false);
  EXPECT_EQ(s.Handle(), nullptr);
}

TEST(SessionTest, FailedSettingsLeaveTheSessionInactive) {
  TTesselSession s;
  s.SetSessionName("badprivate");
  s.SetPrivateDir("/nonexistent/marrowick/private");
  const testing::RaisedError e = testing::ErrorOf([&] { s.SetActive(true); });
  EXPECT_EQ(e.Code, ec::InvalidPath);
  EXPECT_FALSE(s.Active());
}

TEST(SessionTest, DefaultSessionUsesTheProcessEngineSession) {
  TTesselSession& def = Sessions().DefaultSession();
  def.SetActive(true);
  EXPECT_TRUE(ProcessDataSessionExists());
  EXPECT_EQ(def.Handle(), &ProcessDataSession());
  def.SetActive(false);
  EXPECT_FALSE(ProcessDataSessionExists());
  def.SetActive(true);
  EXPECT_TRUE(ProcessDataSessionExists());
}

TEST(SessionTest, NameRules) {
  TTesselSession a;
  a.SetSessionName("alpha");
  TTesselSession b;
  EXPECT_EQ(DatabaseErrorOf([&] { b.SetSessionName("ALPHA"); }), "Session name ALPHA already exists.");
  EXPECT_EQ(DatabaseErrorOf([&] { b.SetSessionName("default"); }), "Session name default already exists.");
  b.SetSessionName("beta");
  a.SetSessionName("alpha");  // its own name again is fine
  a.SetActive(true);
  EXPECT_EQ(DatabaseErrorOf([&] { a.SetSessionName("gamma"); }), "Cannot perform this operation on an active session.");
  EXPECT_EQ(a.SessionName(), "alpha");
}

TEST(SessionTest, AutoSessionNameFromComponentName) {
  TComponentOwner form;
  BoundComponent table(&form);
  TTesselDatabase database(&form);
  TTesselSession s(&form);
  s.SetName("Session1");
  s.SetAutoSessionName(true);
  ASSERT_GE(s.SessionNumber(), 0);
  const std::string expected = "Session1_" + std::to_string(s.SessionNumber() + 1);
  EXPECT_EQ(s.SessionName(), expected);
  EXPECT_EQ(table.SessionName(), expected);
  EXPECT_EQ(database.SessionName(), expected);
  EXPECT_EQ(database.Session(), &s);

  // A component that joins the owner later takes the session as well.
  BoundComponent later(&form);
  EXPECT_EQ(later.SessionName(), expected);

  // Renaming the component renames the session.
  s.SetName("Sessions");
  EXPECT_EQ(s.SessionName(), "Sessions_" + std::to_string(s.SessionNumber() + 1));
  EXPECT_EQ(table.SessionName(), s.SessionName());

  EXPECT_EQ(DatabaseErrorOf([&] { s.SetSessionName("manual"); }),
            "Cannot perform this operation on the active auto-session.");
  EXPECT_EQ(DatabaseErrorOf([&] { TTesselSession second(&form); }), "This auto-session already exists.");
}

TEST(SessionTest, AutoSessionNumbersAreTheLowestFree) {
  TComponentOwner f1, f2, f3;
  TTesselSession s1(&f1), s2(&f2), s3(&f3);
  s1.SetName("Session1");
  s2.SetName("Session2");
  s3.SetName("Session3");
  s1.SetAutoSessionName(true);
  s2.SetAutoSessionName(true);
  const int n1 = s1.SessionNumber();
  const int n2 = s2.SessionNumber();
  EXPECT_NE(n1, n2);
  EXPECT_TRUE(Sessions().SessionNumberTaken(n1));
  s1.SetAutoSessionName(false);
  EXPECT_EQ(s1.SessionNumber(), -1);
  EXPECT_FALSE(Sessions().SessionNumberTaken(n1));
  s3.SetAutoSessionName(true);
  // Every number below n1 was taken when s1 took it, and only n1 was freed.
  EXPECT_EQ(s3.SessionNumber(), n1);
  EXPECT_EQ(s3.SessionName(), "Session3_" + std::to_string(s3.SessionNumber() + 1));
}

TEST(SessionTest, FirstAutoSessionOfTheProcessIsNumberedOne) {
  // No other test leaves a number taken, so the lowest free number is 0.
  TComponentOwner form;
  TTesselSession s(&form);
  s.SetName("Session1");
  s.SetAutoSessionName(true);
  EXPECT_EQ(s.SessionName(), "Session1_1");
}

TEST(SessionTest, AutoSessionRefusals) {
  TComponentOwner form;
  TTesselSession a(&form);
  TTesselSession b(&form);
  a.SetName("A");
  EXPECT_EQ(DatabaseErrorOf([&] { a.SetAutoSessionName(true); }),
            "The active auto-session can be the only active session.");
  EXPECT_FALSE(a.AutoSessionName());

  TComponentOwner other;
  TTesselSession c(&other);
  c.SetSessionName("activeone");
  c.SetActive(true);
  EXPECT_EQ(DatabaseErrorOf([&] { c.SetAutoSessionName(true); }),
            "Cannot perform this operation on an active session.");
  EXPECT_EQ(c.SessionNumber(), -1);
}

TEST(SessionTest, StoredActiveIsAppliedWhenLoadingEnds) {
  TTesselSession s;
  s.BeginLoading();
  s.SetActive(true);
  s.SetSessionName("loaded");
  EXPECT_FALSE(s.Active());
  s.Loaded();
  EXPECT_TRUE(s.Active());
}

TEST(SessionTest, PasswordList) {
  TTesselSession s;
  s.SetSessionName("pwlist");
  s.AddPassword("Secret");
  EXPECT_TRUE(s.Active());  // the list lives in the engine session
  s.AddPassword("Secret");
  s.AddPassword("");
  s.AddPassword("other");
  EXPECT_EQ(s.Handle()->Passwords(), (std::vector<std::string>{"Secret", "other"}));
  EXPECT_TRUE(s.HasPassword("Secret"));
  EXPECT_FALSE(s.HasPassword("secret"));

  s.RemovePassword("SECRET");  // exact comparison: nothing removed
  s.RemovePassword("absent");
  EXPECT_EQ(s.Handle()->Passwords().size(), 2u);
  s.RemovePassword("Secret");
  EXPECT_EQ(s.Handle()->Passwords(), (std::vector<std::string>{"other"}));

  const std::string longText(300, 'x');
  s.AddPassword(longText);
  EXPECT_TRUE(s.HasPassword(longText.substr(0, 255)));
  s.RemovePassword(longText);
  EXPECT_FALSE(s.HasPassword(longText.substr(0, 255)));

  s.RemoveAllPasswords();
  EXPECT_TRUE(s.Handle()->Passwords().empty());
}

TEST(SessionTest, SessionLockNests) {
  TTesselSession s;
  s.LockSession();
  s.LockSession();
  EXPECT_EQ(s.LockCount(), 2);
  s.UnlockSession();
  EXPECT_EQ(s.LockCount(), 1);
  s.UnlockSession();
  EXPECT_EQ(s.LockCount(), 0);
}

}  // namespace
}  // namespace tessel
