#include "core/Progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records what reaches it, as a window or host adapter would show it.
class Recorder : public CQNF_Progress {
public:
    void Progress(uint8_t percent, void* data) override
    {
        seen.push_back(percent);
        lastData = data;
    }
    std::vector<int> seen;
    void* lastData = nullptr;
};

}  // namespace

TEST(BaseProgress, SubRangeMapsOntoTheMastersSlice)
{
    Recorder master;
    CQNF_SubProgress sub;
    sub.SetMasterProgress(&master, 20, 60);
    int token = 0;
    for (uint8_t p : {0, 50, 100, 99, 1})
        sub.Progress(p, &token);
    EXPECT_EQ(master.seen, (std::vector<int>{20, 40, 60, 59, 20}));
    EXPECT_EQ(master.lastData, &token);

    // Reversed slices count down; reports past 100 stay at the top.
    master.seen.clear();
    sub.SetMasterProgress(&master, 80, 30);
    sub.Progress(0, nullptr);
    sub.Progress(100, nullptr);
    sub.SetMasterProgress(&master, 50, 100);
    sub.Progress(255, nullptr);
    EXPECT_EQ(master.seen, (std::vector<int>{80, 30, 100}));

    // Bounds above 100 are clamped on the way in.
    master.seen.clear();
    sub.SetMasterProgress(&master, 150, 250);
    sub.Progress(0, nullptr);
    sub.Progress(100, nullptr);
    EXPECT_EQ(master.seen, (std::vector<int>{100, 100}));
}

TEST(BaseProgress, SubProgressesNest)
{
    Recorder master;
    CQNF_SubProgress outer, inner;
    outer.SetMasterProgress(&master, 0, 50);
    inner.SetMasterProgress(&outer, 50, 100);
    inner.Progress(0, nullptr);
    inner.Progress(100, nullptr);
    EXPECT_EQ(master.seen, (std::vector<int>{25, 50}));
    master.Cancel();
    EXPECT_TRUE(inner.IsCanceled());
}

TEST(BaseProgress, CancellationComesFromTheMasterOnly)
{
    CQNF_Progress master;
    EXPECT_FALSE(master.IsCanceled());
    master.Cancel();
    EXPECT_TRUE(master.IsCanceled());
    EXPECT_TRUE(master.GetCancelState());
    master.Reset();
    EXPECT_FALSE(master.IsCanceled());

    CQNF_SubProgress sub;
    sub.Cancel();  // without a master this is never seen by workers
    EXPECT_FALSE(sub.IsCanceled());
    EXPECT_TRUE(sub.GetCancelState());
    sub.Progress(50, nullptr);  // and reports go nowhere

    sub.SetMasterProgress(&master, 0, 100);
    EXPECT_FALSE(sub.IsCanceled());
    master.Cancel();
    EXPECT_TRUE(sub.IsCanceled());
    sub.SetMasterProgress(nullptr, 0, 100);
    EXPECT_FALSE(sub.IsCanceled());
}

TEST(BaseProgress, UserDataIsKeptForTheListener)
{
    CQNF_Progress p;
    EXPECT_EQ(p.GetUserDataPtr(), nullptr);
    int owner = 0;
    p.SetUserDataPtr(&owner);
    EXPECT_EQ(p.GetUserDataPtr(), &owner);
}
