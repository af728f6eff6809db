// The wrapper contract as the engine sees it: the test plug-ins are loaded by full path
// and driven through wrapper.h, so a plug-in in C and one in C++ must both answer the
// engine's virtual calls with the right object, arguments and results.
#include "wrapper.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#ifndef VELK_TEST_PLUGIN_DIR
#error "VELK_TEST_PLUGIN_DIR must name the folder the test plug-ins are built into"
#endif

namespace {

extern "C" {
typedef void (*ScriptedResetProc)(void);
typedef void (*ScriptedSetResultsProc)(const char* script);
typedef const char* (*ScriptedGetRecordProc)(void);
typedef int (*ScriptedLiveObjectsProc)(void);
typedef const char* (*CWrapperGetRecordProc)(void);
typedef void (*CWrapperResetProc)(void);
typedef int (*CWrapperLiveObjectsProc)(void);
}

// The build names a Linux folder; under Wine it is reached through drive Z:.
std::string GetPluginPath(const char* fileName)
{
    std::string folder = VELK_TEST_PLUGIN_DIR;
    if (!folder.empty() && folder[0] == '/') {
        std::replace(folder.begin(), folder.end(), '/', '\\');
        folder.insert(0, "Z:");
    }
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder + fileName;
}

class CPluginLibrary
{
public:
    explicit CPluginLibrary(const char* fileName)
        : m_path(GetPluginPath(fileName)), m_module(LoadLibraryA(m_path.c_str()))
    {
    }
    ~CPluginLibrary()
    {
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }
    CPluginLibrary(const CPluginLibrary&) = delete;
    CPluginLibrary& operator=(const CPluginLibrary&) = delete;

    HMODULE GetModule() const { return m_module; }
    const std::string& GetPath() const { return m_path; }

    template <typename Proc>
    Proc GetExport(const char* name) const
    {
        FARPROC proc = GetProcAddress(m_module, name);
        // Through the generic function type, which converts to any other without warning.
        return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(proc));
    }

private:
    std::string m_path;
    HMODULE m_module;
};

// The names in the loaded image's export directory, as GetProcAddress matches them.
std::vector<std::string> GetExportNames(HMODULE module, unsigned* functionCount)
{
    const unsigned char* base = reinterpret_cast<const unsigned char*>(module);
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, base, sizeof dos);
    IMAGE_NT_HEADERS nt; // of the test's own architecture, as every loadable plug-in is
    std::memcpy(&nt, base + dos.e_lfanew, sizeof nt);
    IMAGE_DATA_DIRECTORY directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    *functionCount = 0;
    if (directory.VirtualAddress == 0)
        return names;
    IMAGE_EXPORT_DIRECTORY exports;
    std::memcpy(&exports, base + directory.VirtualAddress, sizeof exports);
    *functionCount = exports.NumberOfFunctions;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        DWORD nameAddress;
        std::memcpy(&nameAddress, base + exports.AddressOfNames + i * sizeof nameAddress,
                    sizeof nameAddress);
        names.emplace_back(reinterpret_cast<const char*>(base + nameAddress));
    }
    return names;
}

void ExpectExactExports(const char* fileName, std::vector<std::string> expected)
{
    CPluginLibrary library(fileName);
    ASSERT_NE(library.GetModule(), nullptr) << library.GetPath() << " error " << GetLastError();
    unsigned functionCount = 0;
    std::vector<std::string> names = GetExportNames(library.GetModule(), &functionCount);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(functionCount, expected.size()) << "exports without a name";
}

// One slot call made by hand the way wrapper.h's WRAPPER_SLOT_CALL says a caller makes
// it, for each architecture the contract is defined for. The stack pointer is measured
// across the call, so a callee that leaves the stack other than the convention says shows
// up even where frame pointers would hide it.
struct SlotCall
{
    std::uintptr_t function;
    CWrapper* object;
    std::uintptr_t argumentCount;
    std::uintptr_t arguments[2];
};
const std::size_t kWord = sizeof(std::uintptr_t);
static_assert(offsetof(SlotCall, function) == 0, "layout used by the assembly below");
static_assert(offsetof(SlotCall, object) == kWord, "layout used by the assembly below");
static_assert(offsetof(SlotCall, argumentCount) == 2 * kWord, "layout used by the assembly below");
static_assert(offsetof(SlotCall, arguments) == 3 * kWord, "layout used by the assembly below");

struct SlotResult
{
    int value;
    int stackDrift; // bytes the stack pointer moved across the call, beyond what the caller removes
};

SlotResult CallSlotByHand(CWrapper* object, int slot, std::uintptr_t argumentCount,
                          std::uintptr_t first, std::uintptr_t second)
{
    std::uintptr_t table;
    std::memcpy(&table, static_cast<const void*>(object), sizeof table);
    SlotCall call;
    std::memcpy(&call.function,
                reinterpret_cast<const void*>(table + static_cast<std::uintptr_t>(slot) * kWord),
                sizeof call.function);
    call.object = object;
    call.argumentCount = argumentCount;
    call.arguments[0] = first;
    call.arguments[1] = second;
    SlotResult result;
    std::intptr_t drift;
#if defined(__i386__)
    // thiscall: the object in ECX, the arguments pushed right to left, nothing popped
    // afterwards (the callee removes them).
    __asm__ __volatile__(
        "movl %%esp, %%esi\n\t"
        "andl $-16, %%esp\n\t"
        "movl 8(%[call]), %%ecx\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl 8(%[call],%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "movl 4(%[call]), %%ecx\n\t"
        "call *(%[call])\n\t"
        "movl %%esp, %%edx\n\t"
        "movl %%esi, %%ecx\n\t"
        "andl $-16, %%ecx\n\t"
        "subl %%ecx, %%edx\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result.value), "=d"(drift)
        : [call] "D"(&call)
        : "ecx", "esi", "memory", "cc");
#elif defined(__x86_64__)
    // The one x64 convention: the object in RCX, the arguments in RDX and R8 (unused ones
    // are ignored), 32 bytes of shadow space reserved by the caller, which removes them.
    __asm__ __volatile__(
        "movq %%rsp, %%rsi\n\t"
        "andq $-16, %%rsp\n\t"
        "subq $32, %%rsp\n\t"
        "movq 8(%[call]), %%rcx\n\t"
        "movq 24(%[call]), %%rdx\n\t"
        "movq 32(%[call]), %%r8\n\t"
        "call *(%[call])\n\t"
        "leaq 32(%%rsp), %%rdx\n\t"
        "movq %%rsi, %%rcx\n\t"
        "andq $-16, %%rcx\n\t"
        "subq %%rcx, %%rdx\n\t"
        "movq %%rsi, %%rsp\n\t"
        : "=a"(result.value), "=d"(drift)
        : [call] "D"(&call)
        : "rcx", "rsi", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4",
          "xmm5", "memory", "cc");
#endif
    result.stackDrift = static_cast<int>(drift);
    return result;
}

std::uintptr_t ToArgument(char* text) { return reinterpret_cast<std::uintptr_t>(text); }
std::uintptr_t ToArgument(int value) { return static_cast<std::uintptr_t>(value); }

// The slot order is the contract: count from the table's first word.
enum WrapperSlot {
    kSlotSpawnTask,
    kSlotDeleteTree,
    kSlotWriteErrorMessage,
    kSlotPreInstallApplication,
    kSlotInstallApplication,
    kSlotPostInstallApplication,
    kSlotCleanupInstallationFiles,
};

class ScriptedWrapperTest : public ::testing::Test
{
protected:
    ScriptedWrapperTest() : m_library("scripted_wrapper.dll") {}

    void SetUp() override
    {
        ASSERT_NE(m_library.GetModule(), nullptr)
            << m_library.GetPath() << " error " << GetLastError();
        m_create = m_library.GetExport<CreateWrapperInstanceProc>(WRAPPER_CREATE_EXPORT);
        m_destroy = m_library.GetExport<DestroyWrapperInstanceProc>(WRAPPER_DESTROY_EXPORT);
        m_reset = m_library.GetExport<ScriptedResetProc>("ScriptedReset");
        m_setResults = m_library.GetExport<ScriptedSetResultsProc>("ScriptedSetResults");
        m_getRecord = m_library.GetExport<ScriptedGetRecordProc>("ScriptedGetRecord");
        m_liveObjects = m_library.GetExport<ScriptedLiveObjectsProc>("ScriptedLiveObjects");
        ASSERT_NE(m_create, nullptr);
        ASSERT_NE(m_destroy, nullptr);
        ASSERT_NE(m_reset, nullptr);
        ASSERT_NE(m_setResults, nullptr);
        ASSERT_NE(m_getRecord, nullptr);
        ASSERT_NE(m_liveObjects, nullptr);
        m_reset();
    }

    std::string GetRecord() const { return m_getRecord(); }

    CPluginLibrary m_library;
    CreateWrapperInstanceProc m_create = nullptr;
    DestroyWrapperInstanceProc m_destroy = nullptr;
    ScriptedResetProc m_reset = nullptr;
    ScriptedSetResultsProc m_setResults = nullptr;
    ScriptedGetRecordProc m_getRecord = nullptr;
    ScriptedLiveObjectsProc m_liveObjects = nullptr;
};

TEST_F(ScriptedWrapperTest, ExportsExactlyTheContractAndItsControls)
{
    ExpectExactExports("scripted_wrapper.dll",
                       {"CreateWrapperInstance", "DestroyWrapperInstance", "ScriptedGetRecord",
                        "ScriptedLiveObjects", "ScriptedReset", "ScriptedSetInstallHook", "ScriptedSetResults"});
}

TEST_F(ScriptedWrapperTest, RecordsEveryCallInOrderAndSucceedsWithoutScript)
{
    EXPECT_EQ(GetRecord(), "");
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(m_liveObjects(), 1);

    char spawn[] = "setup.exe /s";
    char tree[] = "C:\\TEMP\\PKG";
    char message[] = "message text";
    char command[] = "msiexec /i \"C:\\APPS\\A B\\a.msi\" /qn";
    char directory[] = "C:\\APPS\\A";
    EXPECT_EQ(wrapper->SpawnTask(spawn, 30), 1);
    EXPECT_EQ(wrapper->DeleteTree(tree), 1);
    wrapper->WriteErrorMessage(message);
    EXPECT_EQ(wrapper->PreInstallApplication(), 1);
    EXPECT_EQ(wrapper->InstallApplication(command, 900), 1);
    EXPECT_EQ(wrapper->PostInstallApplication(), 1);
    EXPECT_EQ(wrapper->CleanupInstallationFiles(directory), 1);
    m_destroy(wrapper);

    EXPECT_EQ(GetRecord(), "create 1\n"
                           "spawn 1 30 setup.exe /s\n"
                           "deletetree 1 C:\\TEMP\\PKG\n"
                           "writeerror 1 message text\n"
                           "pre 1\n"
                           "install 1 900 msiexec /i \"C:\\APPS\\A B\\a.msi\" /qn\n"
                           "post 1\n"
                           "cleanup 1 C:\\APPS\\A\n"
                           "destroy 1\n");
    EXPECT_EQ(m_liveObjects(), 0);
}

TEST_F(ScriptedWrapperTest, ChangesItsCopyOfEveryString)
{
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    char command[] = "setup.exe";
    char marked[] = "#marked";
    char empty[] = "";
    char directory[] = "C:\\APPS";
    EXPECT_EQ(wrapper->InstallApplication(command, 0), 1);
    EXPECT_EQ(wrapper->InstallApplication(marked, 0), 1);
    EXPECT_EQ(wrapper->InstallApplication(empty, 0), 1);
    EXPECT_EQ(wrapper->CleanupInstallationFiles(directory), 1);
    m_destroy(wrapper);

    EXPECT_STREQ(command, "#etup.exe");
    EXPECT_STREQ(marked, "!marked");
    EXPECT_STREQ(empty, "");
    EXPECT_STREQ(directory, "#:\\APPS");
    EXPECT_EQ(GetRecord(), "create 1\n"
                           "install 1 0 setup.exe\n"
                           "install 1 0 #marked\n"
                           "install 1 0 \n"
                           "cleanup 1 C:\\APPS\n"
                           "destroy 1\n");
}

TEST_F(ScriptedWrapperTest, ReturnsScriptedResultsInCallOrderAcrossObjects)
{
    m_setResults("create:1,0,1;pre:1,0;install:0,7;post:0;cleanup:0,-1");
    CWrapper* first = m_create();
    CWrapper* none = m_create();
    CWrapper* second = m_create();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(none, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(m_liveObjects(), 2);

    char command[] = "x";
    char directory[] = "d";
    EXPECT_EQ(first->PreInstallApplication(), 1);
    EXPECT_EQ(second->PreInstallApplication(), 0);
    EXPECT_EQ(first->PreInstallApplication(), 1);
    EXPECT_EQ(second->InstallApplication(command, 5), 0);
    EXPECT_EQ(first->InstallApplication(command, -5), 7);
    EXPECT_EQ(first->InstallApplication(command, INT_MIN), 1);
    EXPECT_EQ(second->PostInstallApplication(), 0);
    EXPECT_EQ(second->PostInstallApplication(), 1);
    EXPECT_EQ(first->CleanupInstallationFiles(directory), 0);
    EXPECT_EQ(first->CleanupInstallationFiles(directory), -1);
    EXPECT_EQ(second->CleanupInstallationFiles(directory), 1);
    CWrapper* third = m_create();
    ASSERT_NE(third, nullptr);
    m_destroy(second);
    m_destroy(first);
    m_destroy(third);

    EXPECT_EQ(GetRecord(), "create 1\n"
                           "create null\n"
                           "create 2\n"
                           "pre 1\n"
                           "pre 2\n"
                           "pre 1\n"
                           "install 2 5 x\n"
                           "install 1 -5 #\n"
                           "install 1 -2147483648 !\n"
                           "post 2\n"
                           "post 2\n"
                           "cleanup 1 d\n"
                           "cleanup 1 #\n"
                           "cleanup 2 !\n"
                           "create 3\n"
                           "destroy 2\n"
                           "destroy 1\n"
                           "destroy 3\n");
    EXPECT_EQ(m_liveObjects(), 0);
}

TEST_F(ScriptedWrapperTest, RecordsDestroyOfUnknownOrDestroyedObjectAsInvalid)
{
    int notAWrapper = 0;
    m_destroy(nullptr);
    m_destroy(reinterpret_cast<CWrapper*>(&notAWrapper));
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    m_destroy(wrapper);
    m_destroy(wrapper);
    EXPECT_EQ(GetRecord(), "destroy invalid\n"
                           "destroy invalid\n"
                           "create 1\n"
                           "destroy 1\n"
                           "destroy invalid\n");
    EXPECT_EQ(m_liveObjects(), 0);
    EXPECT_EQ(notAWrapper, 0);
}

TEST_F(ScriptedWrapperTest, MarksCallsOnADestroyedObject)
{
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    m_destroy(wrapper);
    EXPECT_EQ(wrapper->PreInstallApplication(), 1);
    EXPECT_EQ(GetRecord(), "create 1\n"
                           "destroy 1\n"
                           "destroyed pre 1\n");
}

TEST_F(ScriptedWrapperTest, ResetClearsScriptRecordAndIds)
{
    m_setResults("pre:0");
    CWrapper* old = m_create();
    ASSERT_NE(old, nullptr);
    m_reset();
    EXPECT_EQ(GetRecord(), "");
    EXPECT_EQ(m_liveObjects(), 0);
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->PreInstallApplication(), 1);
    m_destroy(wrapper);
    m_destroy(old);
    EXPECT_EQ(GetRecord(), "create 1\n"
                           "pre 1\n"
                           "destroy 1\n"
                           "destroy 1\n");
    EXPECT_EQ(m_liveObjects(), 0);
}

TEST_F(ScriptedWrapperTest, RecordsAMalformedScriptItem)
{
    m_setResults("pre:1,x;bogus:1;;install:;post:0");
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(wrapper->PostInstallApplication(), 0);
    m_destroy(wrapper);
    EXPECT_EQ(GetRecord(), "script invalid pre:1,x\n"
                           "script invalid bogus:1\n"
                           "script invalid install:\n"
                           "create 1\n"
                           "post 1\n"
                           "destroy 1\n");
}

TEST_F(ScriptedWrapperTest, RecordPointerStaysValidUntilTheNextExportCall)
{
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    const char* record = m_getRecord();
    EXPECT_EQ(wrapper->PreInstallApplication(), 1);
    EXPECT_STREQ(record, "create 1\n");
    m_destroy(wrapper);
    EXPECT_STREQ(m_getRecord(), "create 1\npre 1\ndestroy 1\n");
}

TEST_F(ScriptedWrapperTest, KeepsItsStateWhileAnotherLoadIsFreed)
{
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    HMODULE again = LoadLibraryA(m_library.GetPath().c_str());
    ASSERT_EQ(again, m_library.GetModule());
    FreeLibrary(again);
    EXPECT_EQ(wrapper->PreInstallApplication(), 1);
    m_destroy(wrapper);
    EXPECT_EQ(GetRecord(), "create 1\npre 1\ndestroy 1\n");
}

TEST_F(ScriptedWrapperTest, SlotsUseTheMemberFunctionConvention)
{
    m_setResults("install:5");
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    char command[] = "run me";
    char directory[] = "C:\\CLEAN";
    SlotResult install = CallSlotByHand(wrapper, kSlotInstallApplication, 2, ToArgument(command),
                                        ToArgument(-42));
    SlotResult cleanup =
        CallSlotByHand(wrapper, kSlotCleanupInstallationFiles, 1, ToArgument(directory), 0);
    SlotResult pre = CallSlotByHand(wrapper, kSlotPreInstallApplication, 0, 0, 0);
    m_destroy(wrapper);
    EXPECT_EQ(install.value, 5);
    EXPECT_EQ(install.stackDrift, 0);
    EXPECT_EQ(cleanup.value, 1);
    EXPECT_EQ(cleanup.stackDrift, 0);
    EXPECT_EQ(pre.value, 1);
    EXPECT_EQ(pre.stackDrift, 0);
    EXPECT_EQ(GetRecord(), "create 1\n"
                           "install 1 -42 run me\n"
                           "cleanup 1 C:\\CLEAN\n"
                           "pre 1\n"
                           "destroy 1\n");
}

class CWrapperTest : public ::testing::Test
{
protected:
    CWrapperTest() : m_library("c_wrapper.dll") {}

    void SetUp() override
    {
        ASSERT_NE(m_library.GetModule(), nullptr)
            << m_library.GetPath() << " error " << GetLastError();
        m_create = m_library.GetExport<CreateWrapperInstanceProc>(WRAPPER_CREATE_EXPORT);
        m_destroy = m_library.GetExport<DestroyWrapperInstanceProc>(WRAPPER_DESTROY_EXPORT);
        m_getRecord = m_library.GetExport<CWrapperGetRecordProc>("CWrapperGetRecord");
        m_reset = m_library.GetExport<CWrapperResetProc>("CWrapperReset");
        m_liveObjects = m_library.GetExport<CWrapperLiveObjectsProc>("CWrapperLiveObjects");
        ASSERT_NE(m_create, nullptr);
        ASSERT_NE(m_destroy, nullptr);
        ASSERT_NE(m_getRecord, nullptr);
        ASSERT_NE(m_reset, nullptr);
        ASSERT_NE(m_liveObjects, nullptr);
        m_reset();
    }

    std::string GetRecord() const { return m_getRecord(); }

    CPluginLibrary m_library;
    CreateWrapperInstanceProc m_create = nullptr;
    DestroyWrapperInstanceProc m_destroy = nullptr;
    CWrapperGetRecordProc m_getRecord = nullptr;
    CWrapperResetProc m_reset = nullptr;
    CWrapperLiveObjectsProc m_liveObjects = nullptr;
};

TEST_F(CWrapperTest, ExportsExactlyTheContractAndItsControls)
{
    ExpectExactExports("c_wrapper.dll", {"CreateWrapperInstance", "DestroyWrapperInstance",
                                         "CWrapperGetRecord", "CWrapperLiveObjects",
                                         "CWrapperReset"});
}

TEST_F(CWrapperTest, AnswersVirtualCallsWithObjectArgumentsAndResults)
{
    CWrapper* first = m_create();
    CWrapper* second = m_create();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(m_liveObjects(), 2);

    char spawn[] = "setup.exe /s /v\"/qn\"";
    char tree[] = "C:\\TEMP\\PKG";
    char message[] = "it broke";
    char fail[] = "fail";
    char failure[] = "failure";
    char empty[] = "";
    char directory[] = "C:\\APPS\\B";
    EXPECT_EQ(second->SpawnTask(spawn, 900), 1);
    EXPECT_EQ(first->DeleteTree(tree), 1);
    second->WriteErrorMessage(message);
    EXPECT_EQ(first->PreInstallApplication(), 1);
    EXPECT_EQ(first->InstallApplication(fail, 12), 0);
    EXPECT_EQ(second->InstallApplication(failure, INT_MIN), 1);
    EXPECT_EQ(second->InstallApplication(empty, INT_MAX), 1);
    EXPECT_EQ(second->PostInstallApplication(), 1);
    EXPECT_EQ(first->CleanupInstallationFiles(directory), 1);
    m_destroy(second);
    m_destroy(first);

    EXPECT_EQ(GetRecord(), "create 1\n"
                           "create 2\n"
                           "spawn 2 900 setup.exe /s /v\"/qn\"\n"
                           "deletetree 1 C:\\TEMP\\PKG\n"
                           "writeerror 2 it broke\n"
                           "pre 1\n"
                           "install 1 12 fail\n"
                           "install 2 -2147483648 failure\n"
                           "install 2 2147483647 \n"
                           "post 2\n"
                           "cleanup 1 C:\\APPS\\B\n"
                           "destroy 2\n"
                           "destroy 1\n");
    EXPECT_EQ(m_liveObjects(), 0);
}

TEST_F(CWrapperTest, SlotsUseTheMemberFunctionConvention)
{
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    char fail[] = "fail";
    char spawn[] = "a.exe";
    char tree[] = "C:\\T";
    SlotResult install =
        CallSlotByHand(wrapper, kSlotInstallApplication, 2, ToArgument(fail), ToArgument(77));
    SlotResult spawnTask =
        CallSlotByHand(wrapper, kSlotSpawnTask, 2, ToArgument(spawn), ToArgument(3));
    SlotResult deleteTree = CallSlotByHand(wrapper, kSlotDeleteTree, 1, ToArgument(tree), 0);
    SlotResult post = CallSlotByHand(wrapper, kSlotPostInstallApplication, 0, 0, 0);
    m_destroy(wrapper);
    EXPECT_EQ(install.value, 0);
    EXPECT_EQ(install.stackDrift, 0);
    EXPECT_EQ(spawnTask.value, 1);
    EXPECT_EQ(spawnTask.stackDrift, 0);
    EXPECT_EQ(deleteTree.value, 1);
    EXPECT_EQ(deleteTree.stackDrift, 0);
    EXPECT_EQ(post.value, 1);
    EXPECT_EQ(post.stackDrift, 0);
    EXPECT_EQ(GetRecord(), "create 1\n"
                           "install 1 77 fail\n"
                           "spawn 1 3 a.exe\n"
                           "deletetree 1 C:\\T\n"
                           "post 1\n"
                           "destroy 1\n");
}

TEST_F(CWrapperTest, RecordsDestroyOfUnknownOrDestroyedObjectAsInvalid)
{
    int notAWrapper = 0;
    m_destroy(reinterpret_cast<CWrapper*>(&notAWrapper));
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    m_destroy(wrapper);
    m_destroy(wrapper);
    m_destroy(nullptr);
    EXPECT_EQ(GetRecord(), "destroy invalid\n"
                           "create 1\n"
                           "destroy 1\n"
                           "destroy invalid\n"
                           "destroy invalid\n");
    EXPECT_EQ(m_liveObjects(), 0);
}

TEST_F(CWrapperTest, ResetClearsRecordAndIds)
{
    CWrapper* old = m_create();
    ASSERT_NE(old, nullptr);
    m_reset();
    EXPECT_EQ(GetRecord(), "");
    EXPECT_EQ(m_liveObjects(), 0);
    CWrapper* wrapper = m_create();
    ASSERT_NE(wrapper, nullptr);
    m_destroy(old);
    m_destroy(wrapper);
    EXPECT_EQ(GetRecord(), "create 1\n"
                           "destroy 1\n"
                           "destroy 1\n");
    EXPECT_EQ(m_liveObjects(), 0);
}

TEST(NoCreateWrapperTest, ExportsOnlyDestroyWrapperInstance)
{
    ExpectExactExports("no_create_wrapper.dll", {"DestroyWrapperInstance"});
    CPluginLibrary library("no_create_wrapper.dll");
    ASSERT_NE(library.GetModule(), nullptr);
    EXPECT_EQ(library.GetExport<CreateWrapperInstanceProc>(WRAPPER_CREATE_EXPORT), nullptr);
    EXPECT_NE(library.GetExport<DestroyWrapperInstanceProc>(WRAPPER_DESTROY_EXPORT), nullptr);
}

TEST(NoDestroyWrapperTest, ExportsOnlyCreateWrapperInstanceWithAWorkingObject)
{
    ExpectExactExports("no_destroy_wrapper.dll", {"CreateWrapperInstance"});
    CPluginLibrary library("no_destroy_wrapper.dll");
    ASSERT_NE(library.GetModule(), nullptr);
    EXPECT_EQ(library.GetExport<DestroyWrapperInstanceProc>(WRAPPER_DESTROY_EXPORT), nullptr);
    auto create = library.GetExport<CreateWrapperInstanceProc>(WRAPPER_CREATE_EXPORT);
    ASSERT_NE(create, nullptr);
    CWrapper* wrapper = create();
    ASSERT_NE(wrapper, nullptr);
    char command[] = "setup.exe";
    char directory[] = "C:\\APPS";
    EXPECT_EQ(wrapper->PreInstallApplication(), 1);
    EXPECT_EQ(wrapper->InstallApplication(command, 0), 1);
    EXPECT_EQ(wrapper->PostInstallApplication(), 1);
    EXPECT_EQ(wrapper->CleanupInstallationFiles(directory), 1);
}

TEST(NullWrapperTest, CreatesNothing)
{
    ExpectExactExports("null_wrapper.dll", {"CreateWrapperInstance", "DestroyWrapperInstance"});
    CPluginLibrary library("null_wrapper.dll");
    ASSERT_NE(library.GetModule(), nullptr);
    auto create = library.GetExport<CreateWrapperInstanceProc>(WRAPPER_CREATE_EXPORT);
    auto destroy = library.GetExport<DestroyWrapperInstanceProc>(WRAPPER_DESTROY_EXPORT);
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(create(), nullptr);
    destroy(nullptr);
}

} // namespace
