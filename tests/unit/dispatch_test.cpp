// Selector dispatch and host recognition, without a host program around them.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/definition.h"
#include "settings/settings.h"
#include "runtime/host_calls.h"
#include "shell/shell.h"
#include "support/fake_platform.h"

namespace {

struct Dispatch : ::testing::Test {
    FilterRecord record{};
    intptr_t data = 0;
    int16 result = 777;
    void SetUp() override
    {
        fake_platform.reset();
        run_state.host_kind = HostKind::unknown;
        parameters_requested = 0;
    }
};

TEST_F(Dispatch, ParametersOnlySetsTheFlag)
{
    dispatch_selector(filterSelectorParameters, &record, &data, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(parameters_requested, 1);
    EXPECT_TRUE(fake_platform.boxes.empty());
    EXPECT_TRUE(fake_platform.dialog_calls.empty());
}

TEST_F(Dispatch, PrepareGivesANonZeroDataValueOnceAndKeepsAnExistingOne)
{
    record.maxSpace = 12345;
    dispatch_selector(filterSelectorPrepare, &record, &data, &result);
    EXPECT_EQ(result, 0);
    EXPECT_NE(data, 0);
    EXPECT_EQ(record.maxSpace, 12345);
    intptr_t first = data;
    dispatch_selector(filterSelectorPrepare, &record, &data, &result);
    EXPECT_EQ(data, first);
    intptr_t host_value = 42;
    dispatch_selector(filterSelectorPrepare, &record, &host_value, &result);
    EXPECT_EQ(host_value, 42);
}

TEST_F(Dispatch, ContinueFinishAndLargerSelectorsAnswerZero)
{
    fake_platform.executable_path = "C:\\x\\PSP.EXE";
    for (int16 selector : {4, 5, 6, 7, 100, 32767}) {
        result = 777;
        FilterRecord before = record;
        dispatch_selector(selector, &record, &data, &result);
        EXPECT_EQ(result, 0) << selector;
        EXPECT_EQ(std::memcmp(&before, &record, sizeof record), 0) << selector;
        EXPECT_EQ(data, 0);
    }
    EXPECT_EQ(run_state.host_kind, HostKind::psp); // continue re-ran recognition
    EXPECT_TRUE(fake_platform.boxes.empty());
}

TEST_F(Dispatch, TheRecordIsReplacedAtEveryCallAndAStartWithoutOneIsRefused)
{
    FilterRecord other{};
    dispatch_selector(filterSelectorFinish, &record, &data, &result);
    EXPECT_EQ(run_state.filter_record, &record);
    dispatch_selector(filterSelectorParameters, &other, nullptr, &result);
    EXPECT_EQ(run_state.filter_record, &other);
    dispatch_selector(filterSelectorStart, nullptr, &data, &result);
    EXPECT_EQ(result, filterBadParameters);
    EXPECT_TRUE(fake_platform.dialog_calls.empty());
}

TEST(HostRecognition, NamesMatchWithoutCaseAndExtension)
{
    EXPECT_EQ(host_kind_from_path("C:\\Apps\\PHOTOPNT.EXE", HostKind::unknown), HostKind::photopnt);
    EXPECT_EQ(host_kind_from_path("C:\\Apps\\photoshp.exe", HostKind::unknown), HostKind::photoshp);
    EXPECT_EQ(host_kind_from_path("psp", HostKind::unknown), HostKind::psp);
    EXPECT_EQ(host_kind_from_path("D:\\a.b\\Psp.x.y", HostKind::unknown), HostKind::psp);
    EXPECT_EQ(host_kind_from_path("C:\\Apps\\photoshpx.exe", HostKind::unknown), HostKind::unknown); // a longer name is another program
    EXPECT_EQ(host_kind_from_path("C:\\Apps\\photoshpx.exe", HostKind::photopnt), HostKind::photopnt); // keeps the earlier kind
    EXPECT_EQ(host_kind_from_path("C:\\Apps\\photosh.exe", HostKind::unknown), HostKind::unknown);
    EXPECT_EQ(host_kind_from_path("C:\\Apps\\", HostKind::photoshp), HostKind::photoshp);
    EXPECT_EQ(host_kind_from_path("", HostKind::unknown), HostKind::unknown);
    EXPECT_EQ(host_kind_from_path("C:\\Apps\\pspx.exe", HostKind::unknown), HostKind::unknown);
}

} // namespace
