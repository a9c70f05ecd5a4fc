// Scripting: the recorded descriptor with playInfo, the descriptor written at finish, the
// disposition enumeration and the descriptor registry.
#include "tests/host/HostTestSupport.h"

namespace hpxhost
{
namespace
{

using Scripting = PluginTest;

// parameters and prepare, so that the start selector finds both handles.
void Prepare(TestHost& host)
{
    ASSERT_EQ(host.Call(filterSelectorParameters), noErr);
    ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
}

TEST_F(Scripting, RecordedDescriptorAndPlayInfo)
{
    const Descriptor recorded = {UnitFloatItem(keyAmount, unitPercent, 50.9),
                                 EnumItem(keyDisposition, typeMood, enumMood2), BoolItem(keyIgnoreSelection, true)};
    // playInfo 0 (don't display) and 2 (silent): the values are taken, no window, no fetch.
    for (int16_t play : {plugInDialogDontDisplay, plugInDialogSilent})
    {
        Prepare(host);
        host.options.playInfo = play;
        host.SetRecordedDescriptor(recorded);
        ASSERT_EQ(host.Call(filterSelectorStart), noErr) << play;
        EXPECT_EQ(host.advanceRequests.size(), 1u) << play;  // the write-back's request only
        const ParameterView v = ReadParameters(host);
        EXPECT_EQ(v.amount, 50) << play;
        EXPECT_EQ(v.disposition, 2) << play;
        EXPECT_EQ(v.ignoreSelection, 1) << play;
        EXPECT_EQ(host.DescriptorParams().descriptor, nullptr) << "the read descriptor is disposed";
    }
    // playInfo 1: the dialog is asked for, so the image is fetched.
    Prepare(host);
    host.options.playInfo = plugInDialogDisplay;
    host.SetRecordedDescriptor(recorded);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    EXPECT_EQ(host.advanceRequests.size(), 2u);
    EXPECT_EQ(ReadParameters(host).amount, 50);
}

TEST_F(Scripting, UnknownKeyStopsReadingAndKeepsWhatWasRead)
{
    Prepare(host);
    WriteParameters(host, 7, 0, 0);
    host.options.playInfo = plugInDialogDontDisplay;
    host.SetRecordedDescriptor({UnitFloatItem(keyAmount, unitPercent, 30.0), IntegerItem(HPX_FOURCC("xxxx"), 4),
                                EnumItem(keyDisposition, typeMood, enumMood3)});
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    const ParameterView v = ReadParameters(host);
    EXPECT_EQ(v.amount, 30);
    EXPECT_EQ(v.disposition, 0);  // behind the unknown key: not read
    EXPECT_EQ(host.DescriptorParams().descriptor, nullptr);
    EXPECT_EQ(host.openReadTokens, 0);
}

TEST_F(Scripting, FinishRecordsTheParameters)
{
    Prepare(host);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    WriteParameters(host, 42, 3, 0);
    host.DescriptorParams().recordInfo = plugInDialogRequired;
    ASSERT_EQ(host.Call(filterSelectorFinish), noErr);
    const Descriptor d = host.RecordedDescriptor();
    ASSERT_EQ(d.size(), 2u);  // 'ignS' only when set
    ASSERT_NE(FindItem(d, keyAmount), nullptr);
    EXPECT_EQ(FindItem(d, keyAmount)->unit, unitPercent);
    EXPECT_EQ(FindItem(d, keyAmount)->number, 42.0);
    ASSERT_NE(FindItem(d, keyDisposition), nullptr);
    EXPECT_EQ(FindItem(d, keyDisposition)->enumType, typeMood);
    EXPECT_EQ(FindItem(d, keyDisposition)->enumValue, enumMood3);
    EXPECT_EQ(host.DescriptorParams().recordInfo, plugInDialogOptional);

    WriteParameters(host, 42, 3, 1);
    ASSERT_EQ(host.Call(filterSelectorFinish), noErr);
    const Descriptor withFlag = host.RecordedDescriptor();
    ASSERT_NE(FindItem(withFlag, keyIgnoreSelection), nullptr);
    EXPECT_EQ(FindItem(withFlag, keyIgnoreSelection)->flag, 1);
}

TEST_F(Scripting, DispositionMapsToAndFromTheEnumeration)
{
    Prepare(host);
    const struct
    {
        int16_t disposition;
        DescriptorEnumID written;
    } cases[] = {{0, enumMood0}, {1, enumMood1}, {2, enumMood2}, {3, enumMood3}, {4, enumMood1}, {-1, enumMood1}};
    for (const auto& c : cases)
    {
        WriteParameters(host, 0, c.disposition, 0);
        ASSERT_EQ(host.Call(filterSelectorFinish), noErr);
        const DescriptorItem* item = FindItem(host.RecordedDescriptor(), keyDisposition);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->enumValue, c.written) << c.disposition;
        EXPECT_EQ(FindItem(host.registry[kHushpixKey], keyDisposition)->enumValue, c.written) << c.disposition;
    }
    // Reading: the four enumerations and anything else, which reads as 1.
    const struct
    {
        DescriptorEnumID value;
        int16_t disposition;
    } reads[] = {{enumMood0, 0}, {enumMood1, 1}, {enumMood2, 2}, {enumMood3, 3}, {HPX_FOURCC("moD9"), 1}};
    host.options.playInfo = plugInDialogDontDisplay;
    for (const auto& r : reads)
    {
        ASSERT_EQ(host.Call(filterSelectorPrepare), noErr);
        host.SetRecordedDescriptor(
            {EnumItem(keyDisposition, typeMood, r.value), UnitFloatItem(keyAmount, unitPercent, 1)});
        ASSERT_EQ(host.Call(filterSelectorStart), noErr);
        EXPECT_EQ(ReadParameters(host).disposition, r.disposition);
    }
}

TEST_F(Scripting, RegistryEntryIsWrittenAtFinishAndReadAtStart)
{
    RunReport run = host.RunFilter(true);
    ASSERT_TRUE(run.ok) << run.Describe();
    ASSERT_EQ(host.registry.count(kHushpixKey), 1u);
    const Descriptor& entry = host.registry[kHushpixKey];
    ASSERT_NE(FindItem(entry, keyIgnoreSelection), nullptr);  // always written here
    EXPECT_EQ(FindItem(entry, keyAmount)->unit, unitPercent);

    // The next start takes the registered values (no recorded descriptor overrides them).
    host.ClearRecordedDescriptor();
    host.registry[kHushpixKey] = {UnitFloatItem(keyAmount, unitPercent, 77.0),
                                  EnumItem(keyDisposition, typeMood, enumMood0), BoolItem(keyIgnoreSelection, true)};
    Prepare(host);
    WriteParameters(host, 1, 1, 0);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    ParameterView v = ReadParameters(host);
    EXPECT_EQ(v.amount, 77);
    EXPECT_EQ(v.disposition, 0);
    EXPECT_EQ(v.ignoreSelection, 1);

    // An entry without 'disP': the reading stops there.
    host.ClearRecordedDescriptor();
    host.registry[kHushpixKey] = {UnitFloatItem(keyAmount, unitPercent, 12.0), BoolItem(keyIgnoreSelection, true)};
    Prepare(host);
    WriteParameters(host, 1, 3, 0);
    ASSERT_EQ(host.Call(filterSelectorStart), noErr);
    v = ReadParameters(host);
    EXPECT_EQ(v.amount, 12);
    EXPECT_EQ(v.disposition, 3);
    EXPECT_EQ(v.ignoreSelection, 0);

    EXPECT_EQ(host.liveActionDescriptors, 0);
    for (const auto& s : host.suitesHeld) EXPECT_EQ(s.second, 0) << s.first;
}

}  // namespace
}  // namespace hpxhost
