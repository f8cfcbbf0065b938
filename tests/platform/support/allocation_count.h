// Counts the task-allocator blocks (CoTaskMemAlloc) still held: BSTRs and SAFEARRAYs live there.
// While one is alive, OLE Automation's string cache is off so every BSTR is a real block.
#pragma once

#include <windows.h>
// needs windows.h first
#include <objbase.h>
#include <objidl.h>

namespace support {

class AllocationCount final : public IMallocSpy {
 public:
  AllocationCount() {
    // Strings freed into the cache would look like leaks; the cache cannot be turned on again,
    // which only costs speed.
    if (auto noCache = reinterpret_cast<void(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache"))))
      noCache();
    registered_ = SUCCEEDED(CoRegisterMallocSpy(this));
  }
  ~AllocationCount() {
    if (registered_) CoRevokeMallocSpy();
  }
  AllocationCount(const AllocationCount&) = delete;
  AllocationCount& operator=(const AllocationCount&) = delete;

  bool active() const { return registered_; }
  // Blocks allocated since this object was made and not freed yet.
  long outstanding() const { return outstanding_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
      *object = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (block) ++outstanding_;
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
    if (block && spied) --outstanding_;
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override {
    *newBlock = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  long outstanding_ = 0;
  bool registered_ = false;
};

}  // namespace support
