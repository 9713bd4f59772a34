#include "app/Termination.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

// A main window whose resignation answer the test gives when it likes.
struct FakeWindow {
    bool pending = true;
    bool closed = false;
    int asked = 0;
    std::function<void(bool)> answer;
    // Set: answer at once when asked.
    std::optional<bool> answerAtOnce;

    Termination::Window window() {
        return {[this] { return pending && !closed; },
                [this](std::function<void(bool)> a) {
                    ++asked;
                    answer = a;
                    if (answerAtOnce)
                        a(*answerAtOnce);
                },
                [this] { closed = true; }};
    }
};

// A termination and the later replies it gives.
class QuitRequest : public ::testing::Test {
protected:
    std::vector<bool> replies;
    Termination termination{[this](bool terminate) { replies.push_back(terminate); }};
};

} // namespace

TEST_F(QuitRequest, NothingPendingEndsAtOnceWithoutAsking) {
    FakeWindow clean;
    clean.pending = false;
    EXPECT_EQ(termination.applicationShouldTerminate({clean.window()}), Termination::Reply::TerminateNow);
    EXPECT_EQ(clean.asked, 0);
    EXPECT_TRUE(replies.empty());
}

TEST_F(QuitRequest, AnImmediateYesWaitsForTheWindowsNotYetAsked) {
    FakeWindow first, second;
    first.answerAtOnce = true;
    EXPECT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateLater);
    EXPECT_TRUE(first.closed);
    EXPECT_EQ(second.asked, 1);
    EXPECT_TRUE(replies.empty()) << "ended before the second window answered";
    EXPECT_EQ(termination.unsavedWindows(), 1u);

    second.answer(true);
    EXPECT_EQ(replies, std::vector<bool>{true});
    EXPECT_TRUE(second.closed);
}

TEST_F(QuitRequest, EveryWindowAgreeingAtOnceEndsNowWithoutALaterReply) {
    FakeWindow first, second;
    first.answerAtOnce = second.answerAtOnce = true;
    EXPECT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateNow);
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(first.closed && second.closed);
}

TEST_F(QuitRequest, YesThenRefusalKeepsTheFirstClosedAndARepeatedQuitAsksOnlyTheOther) {
    FakeWindow first, second;
    ASSERT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateLater);
    first.answer(true);
    EXPECT_TRUE(first.closed);
    EXPECT_TRUE(replies.empty());
    second.answer(false);
    EXPECT_EQ(replies, std::vector<bool>{false});
    EXPECT_FALSE(second.closed);
    EXPECT_EQ(termination.unsavedWindows(), 0u);

    // A late second answer of the refused quit changes nothing.
    second.answer(true);
    EXPECT_EQ(replies.size(), 1u);
    EXPECT_FALSE(second.closed);

    ASSERT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateLater);
    EXPECT_EQ(first.asked, 1);
    EXPECT_EQ(second.asked, 2);
    second.answer(true);
    EXPECT_EQ(replies, (std::vector<bool>{false, true}));
}

TEST_F(QuitRequest, AnAnswerLeftFromARefusedQuitNeverCompletesALaterOne) {
    FakeWindow first, second;
    ASSERT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateLater);
    auto staleFirst = first.answer;
    second.answer(false);
    ASSERT_EQ(replies, std::vector<bool>{false});

    ASSERT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateLater);
    second.answer(true);
    staleFirst(true); // the sheet of the first quit, answered only now
    EXPECT_EQ(replies.size(), 1u) << "the old answer completed the new quit";
    EXPECT_FALSE(first.closed);
    EXPECT_EQ(termination.unsavedWindows(), 1u);

    first.answer(true);
    EXPECT_EQ(replies, (std::vector<bool>{false, true}));
}

TEST_F(QuitRequest, ARefusalAtOnceStopsAskingAndCancels) {
    FakeWindow first, second;
    first.answerAtOnce = false;
    EXPECT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateCancel);
    EXPECT_EQ(second.asked, 0);
    EXPECT_TRUE(replies.empty());
}

TEST_F(QuitRequest, AWindowAnsweringTwiceCountsOnce) {
    FakeWindow first, second;
    ASSERT_EQ(termination.applicationShouldTerminate({first.window(), second.window()}),
              Termination::Reply::TerminateLater);
    first.answer(true);
    first.answer(true);
    EXPECT_TRUE(replies.empty());
    second.answer(true);
    EXPECT_EQ(replies, std::vector<bool>{true});
}
