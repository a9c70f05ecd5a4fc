// The filter's scripting parameters: the descriptor the host records with an action, and the
// filter's entry in the host's descriptor registry.
#include <cmath>

#include "host/PluginMain.h"

const char kHushpixRegistryKey[] = "67debd70-8f84-11df-a4ee-0800200c9a66";

DescriptorEnumID DispositionToEnum(int16_t disposition)
{
    switch (disposition)
    {
    case 0:
        return enumMood0;
    case 2:
        return enumMood2;
    case 3:
        return enumMood3;
    default:
        return enumMood1;
    }
}

int16_t EnumToDisposition(DescriptorEnumID value)
{
    if (value == enumMood0) return 0;
    if (value == enumMood2) return 2;
    if (value == enumMood3) return 3;
    return 1;
}

namespace
{

// A suite error in the host's 16-bit result: never let a 32-bit code shrink to success.
int16_t ToOSErr(SPErr err)
{
    if (err == 0) return noErr;
    int16_t e = int16_t(err);
    return e != 0 ? e : int16_t(errPlugInHostInsufficient);
}

int16_t TruncateAmount(double value)
{
    if (!(value > -32768.0)) return -32768;  // also not-a-number
    if (value > 32767.0) return 32767;
    return int16_t(value);
}

// The two suites of the registry routines, acquired together and released together.
struct RegistrySuites
{
    PSDescriptorRegistryProcs* registry = nullptr;
    PSActionDescriptorProcs* descriptor = nullptr;

    SPErr Acquire()
    {
        const void* p = nullptr;
        SPErr err = g_pSPBasic->AcquireSuite(kPSDescriptorRegistrySuite, kPSDescriptorRegistrySuiteVersion, &p);
        if (err != 0 || !p) return err ? err : SPErr(errPlugInHostInsufficient);
        registry = static_cast<PSDescriptorRegistryProcs*>(const_cast<void*>(p));
        p = nullptr;
        err = g_pSPBasic->AcquireSuite(kPSActionDescriptorSuite, kPSActionDescriptorSuiteVersion, &p);
        if (err != 0 || !p) return err ? err : SPErr(errPlugInHostInsufficient);
        descriptor = static_cast<PSActionDescriptorProcs*>(const_cast<void*>(p));
        return 0;
    }

    ~RegistrySuites()
    {
        if (descriptor) g_pSPBasic->ReleaseSuite(kPSActionDescriptorSuite, kPSActionDescriptorSuiteVersion);
        if (registry) g_pSPBasic->ReleaseSuite(kPSDescriptorRegistrySuite, kPSDescriptorRegistrySuiteVersion);
    }
};

}  // namespace

int16_t ReadScriptParameters(uint8_t* showDialog)
{
    if (!showDialog) return errMissingParameter;
    *showDialog = g_pDataBlock ? g_pDataBlock->m_bQueryForParameters : 0;

    FilterRecord* fr = g_pFilterRecord;
    PIDescriptorParameters* dp = fr ? fr->descriptorParameters : nullptr;
    if (!dp || !dp->readDescriptorProcs || !dp->descriptor) return noErr;

    ReadDescriptorProcs* rp = dp->readDescriptorProcs;
    OSErr err = noErr;
    DescriptorKeyID keys[] = {keyAmount, keyDisposition, 0};
    PIReadDescriptor token = rp->openReadDescriptorProc(dp->descriptor, keys);
    if (token)
    {
        DescriptorKeyID key = 0;
        DescType type = 0;
        int32_t flags = 0;
        while (err == noErr && rp->getKeyProc(token, &key, &type, &flags))
        {
            if (key == keyAmount)
            {
                DescriptorUnitID unit = unitPercent;
                double value = 0.0;
                err = rp->getUnitFloatProc(token, &unit, &value);
                if (err == noErr && g_pParameters) g_pParameters->amount = TruncateAmount(value);
            }
            else if (key == keyDisposition)
            {
                DescriptorEnumID value = 0;
                err = rp->getEnumeratedProc(token, &value);
                if (err == noErr && g_pParameters) g_pParameters->disposition = EnumToDisposition(value);
            }
            else if (key == keyIgnoreSelection)
            {
                Boolean value = 0;
                err = rp->getBooleanProc(token, &value);
                if (err == noErr && g_pParameters) g_pParameters->ignoreSelection = value;
            }
            else
            {
                err = readErr;
            }
        }
        err = rp->closeReadDescriptorProc(token);
        if (fr->handleProcs && fr->handleProcs->disposeProc) fr->handleProcs->disposeProc(dp->descriptor);
        dp->descriptor = nullptr;
    }
    *showDialog = (dp->playInfo == plugInDialogDisplay) ? 1 : 0;
    return err;
}

int16_t WriteScriptParameters()
{
    FilterRecord* fr = g_pFilterRecord;
    PIDescriptorParameters* dp = fr ? fr->descriptorParameters : nullptr;
    if (!dp || !dp->writeDescriptorProcs || !g_pParameters) return noErr;

    WriteDescriptorProcs* wp = dp->writeDescriptorProcs;
    PIWriteDescriptor token = wp->openWriteDescriptorProc();
    if (!token) return errMissingParameter;

    const double amount = g_pParameters->amount;
    wp->putUnitFloatProc(token, keyAmount, unitPercent, &amount);
    wp->putEnumeratedProc(token, keyDisposition, typeMood, DispositionToEnum(g_pParameters->disposition));
    if (g_pParameters->ignoreSelection) wp->putBooleanProc(token, keyIgnoreSelection, 1);

    if (dp->descriptor && fr->handleProcs && fr->handleProcs->disposeProc) fr->handleProcs->disposeProc(dp->descriptor);
    dp->descriptor = nullptr;
    OSErr err = wp->closeWriteDescriptorProc(token, &dp->descriptor);
    dp->recordInfo = plugInDialogOptional;
    return err;
}

int16_t ReadRegistryParameters()
{
    if (!g_pSPBasic) return errPlugInHostInsufficient;
    RegistrySuites suites;
    SPErr err = suites.Acquire();
    if (err != 0) return ToOSErr(err);

    PIActionDescriptor descriptor = nullptr;
    err = suites.registry->Get(kHushpixRegistryKey, &descriptor);
    if (err == 0 && descriptor && g_pParameters)
    {
        DescriptorUnitID unit = unitPercent;
        double amount = 0.0;
        err = suites.descriptor->GetUnitFloat(descriptor, keyAmount, &unit, &amount);
        if (err == 0) g_pParameters->amount = TruncateAmount(amount);
        if (err == 0)
        {
            DescriptorEnumTypeID type = 0;
            DescriptorEnumID value = 0;
            err = suites.descriptor->GetEnumerated(descriptor, keyDisposition, &type, &value);
            if (err == 0) g_pParameters->disposition = EnumToDisposition(value);
        }
        if (err == 0)
        {
            Boolean value = 0;
            err = suites.descriptor->GetBoolean(descriptor, keyIgnoreSelection, &value);
            if (err == 0) g_pParameters->ignoreSelection = value;
        }
    }
    if (descriptor) suites.descriptor->Free(descriptor);
    return ToOSErr(err);
}

int16_t WriteRegistryParameters()
{
    if (!g_pSPBasic) return errPlugInHostInsufficient;
    if (!g_pParameters) return filterBadParameters;
    RegistrySuites suites;
    SPErr err = suites.Acquire();
    if (err != 0) return ToOSErr(err);

    PIActionDescriptor descriptor = nullptr;
    err = suites.descriptor->Make(&descriptor);
    if (err == 0 && descriptor)
    {
        err = suites.descriptor->PutUnitFloat(descriptor, keyAmount, unitPercent, g_pParameters->amount);
        if (err == 0)
            err = suites.descriptor->PutEnumerated(descriptor, keyDisposition, typeMood,
                                                   DispositionToEnum(g_pParameters->disposition));
        if (err == 0)
            err = suites.descriptor->PutBoolean(descriptor, keyIgnoreSelection, g_pParameters->ignoreSelection);
        if (err == 0) err = suites.registry->Register(kHushpixRegistryKey, descriptor, 1);
    }
    if (descriptor) suites.descriptor->Free(descriptor);
    return ToOSErr(err);
}
