// The owners of the Win32 layer (COM pointers, VARIANTs, BSTRs, modules) and its system-message
// helper, against the real system: only in the Windows test binary.
#ifdef RS_CONTRACT_WIN32

#include <gtest/gtest.h>

#include <functional>

#include "platform/win32/com_support.h"
#include "platform/win32/system_message.h"
#include "platform/win32/unique_handle.h"

namespace {

using platform::win32::BstrOf;
using platform::win32::TextOfBstr;
using platform::win32::UniqueBstr;
using platform::win32::UniqueCom;
using platform::win32::UniqueModule;
using platform::win32::UniqueVariant;

// An object that only counts its references; the test holds the first one itself.
class Counted final : public IUnknown {
public:
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

IUnknown* Referenced(Counted& object) {
    object.AddRef();
    return &object;
}

TEST(Win32Owners, ComPointersAndVariantsGiveBackEveryReferenceTheyHoldOnce) {
    struct Case {
        const char* name;
        std::function<void(Counted& first, Counted& second)> use;
        ULONG firstAfter;
        ULONG secondAfter;
    };
    const Case cases[] = {
        {"a pointer's reference is released when its owner goes",
         [](Counted& first, Counted&) { const UniqueCom<IUnknown> owner(Referenced(first)); }, 1,
         1},
        {"put releases the held pointer before the call writes another",
         [](Counted& first, Counted& second) {
             UniqueCom<IUnknown> owner(Referenced(first));
             *owner.put() = Referenced(second);
             EXPECT_EQ(first.references, 1u);
         },
         1, 1},
        {"release gives the reference up",
         [](Counted& first, Counted&) {
             UniqueCom<IUnknown> owner(Referenced(first));
             owner.release();
         },
         2, 1},
        {"a VARIANT holding an object releases it when its owner goes",
         [](Counted& first, Counted&) {
             UniqueVariant value;
             value.put()->vt = VT_UNKNOWN;
             value.addressof()->punkVal = Referenced(first);
         },
         1, 1},
        {"a VARIANT a callee replaced releases what it holds at the end",
         [](Counted& first, Counted& second) {
             UniqueVariant value;
             value.put()->vt = VT_UNKNOWN;
             value.addressof()->punkVal = Referenced(first);
             // The callee's own part: it clears the old value and leaves a new one.
             ::VariantClear(value.addressof());
             value.addressof()->vt = VT_UNKNOWN;
             value.addressof()->punkVal = Referenced(second);
         },
         1, 1},
        {"an empty VARIANT releases nothing", [](Counted&, Counted&) { UniqueVariant value; }, 1,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Counted first;
        Counted second;
        c.use(first, second);
        EXPECT_EQ(first.references, c.firstAfter);
        EXPECT_EQ(second.references, c.secondAfter);
    }
}

TEST(Win32Owners, BstrReplacedByReferenceIsTheOneKeptAndFreed) {
    UniqueBstr text = BstrOf("before");
    EXPECT_EQ(TextOfBstr(text.get()), "before");
    BSTR* place = text.addressof();
    // A by-reference argument's callee frees the text it was given and leaves its own.
    ::SysFreeString(*place);
    *place = ::SysAllocString(L"after");
    EXPECT_EQ(TextOfBstr(text.get()), "after");
    EXPECT_EQ(TextOfBstr(BstrOf("").get()), "");
    EXPECT_EQ(TextOfBstr(nullptr), "");
}

TEST(Win32Owners, ModuleIsUnloadedWhenItsOwnerGoes) {
    constexpr const char* kLibrary = "msimg32.dll";  // nothing else in the test binary loads it
    ASSERT_EQ(::GetModuleHandleA(kLibrary), nullptr);
    {
        const UniqueModule module(::LoadLibraryA(kLibrary));
        ASSERT_TRUE(module);
        EXPECT_EQ(::GetModuleHandleA(kLibrary), module.get());
    }
    EXPECT_EQ(::GetModuleHandleA(kLibrary), nullptr);
}

TEST(Win32Owners, SystemMessageWithoutItsLineEndOrNothing) {
    const std::string text = platform::win32::SystemMessage(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_EQ(platform::win32::SystemMessage(0x2BADF00Du), "");
}

}  // namespace

#endif  // RS_CONTRACT_WIN32
