#include "ui/win32_accessibility.h"

#include <oleacc.h>

#include <atomic>
#include <string>
#include <utility>

#include "core/text.h"
#include "ui/win32_newer_api.h"

namespace tessaloom::ui {
namespace {

// oleacc.dll, loaded from System32 the first time a reader asks, so that a
// program without a reader never loads it.
struct Oleacc {
    decltype(&CreateStdAccessibleObject) createStd = nullptr;
    decltype(&LresultFromObject) lresultFrom = nullptr;
    decltype(&SysAllocStringLen) allocString = nullptr;
};

const Oleacc& Library() {
    static const Oleacc library = [] {
        Oleacc found;
        // Loaded only when a reader asks, never on the way to starting the main program.
        HMODULE module = LoadSystemModule(L"oleacc.dll");
        Bind(found.createStd, module, "CreateStdAccessibleObject");
        Bind(found.lresultFrom, module, "LresultFromObject");
        Bind(found.allocString, LoadSystemModule(L"oleaut32.dll"), "SysAllocStringLen");
        return found;
    }();
    return library;
}

BSTR Bstr(const std::wstring& text) {
    const auto alloc = Library().allocString;
    return alloc != nullptr ? alloc(text.data(), static_cast<UINT>(text.size())) : nullptr;
}

// The standard object with the changes; every other question goes to it.
class ChangedAccessible final : public IAccessible {
public:
    ChangedAccessible(IAccessible* standard, AccessibleChanges changes)
        : standard_(standard), changes_(std::move(changes)) {}
    ChangedAccessible(const ChangedAccessible&) = delete;
    ChangedAccessible& operator=(const ChangedAccessible&) = delete;

    // --- IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == __uuidof(IEnumVARIANT) && changes_.progress) {
            // The standard enumeration would leave the progress row out;
            // readers then ask child by child.
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return standard_->QueryInterface(iid, object);  // IOleWindow and the like
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // --- IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument) override {
        return standard_->Invoke(id, iid, locale, flags, parameters, result, exception, argument);
    }

    // --- IAccessible: what changes
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        const HRESULT result = standard_->get_accChildCount(count);
        if (SUCCEEDED(result) && changes_.progress) {
            ++*count;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        if (IsProgress(child)) {
            *object = nullptr;
            return S_FALSE;  // a simple element: its parent answers for it
        }
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (IsProgress(child)) {
            *name = Bstr(changes_.progress().name);
            return S_OK;
        }
        if (IsSelf(child) && changes_.name) {
            *name = changes_.name->empty() ? nullptr : Bstr(*changes_.name);
            return changes_.name->empty() ? S_FALSE : S_OK;
        }
        return standard_->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (IsProgress(child)) {
            *value = Bstr(DecimalText(changes_.progress().percent) + L"%");
            return S_OK;
        }
        return standard_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (IsProgress(child)) {
            role->vt = VT_I4;
            role->lVal = ROLE_SYSTEM_PROGRESSBAR;
            return S_OK;
        }
        if (IsSelf(child) && changes_.role) {
            role->vt = VT_I4;
            role->lVal = *changes_.role;
            return S_OK;
        }
        return standard_->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (IsProgress(child)) {
            state->vt = VT_I4;
            state->lVal = STATE_SYSTEM_READONLY | (changes_.progress().visible ? 0 : STATE_SYSTEM_INVISIBLE);
            return S_OK;
        }
        return standard_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        if (IsProgress(child)) {
            const RECT r = changes_.progress().screen;
            *left = r.left;
            *top = r.top;
            *width = r.right - r.left;
            *height = r.bottom - r.top;
            return S_OK;
        }
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        if (changes_.progress) {
            const ProgressReading progress = changes_.progress();
            if (progress.visible && PtInRect(&progress.screen, POINT{x, y})) {
                child->vt = VT_I4;
                child->lVal = ProgressId();
                return S_OK;
            }
        }
        return standard_->accHitTest(x, y, child);
    }

    // --- IAccessible: the rest as the standard object says, nothing of it for the progress row
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return IsProgress(child) ? Nothing(text) : standard_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return IsProgress(child) ? Nothing(text) : standard_->get_accHelp(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return IsProgress(child) ? Nothing(file) : standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return IsProgress(child) ? Nothing(text) : standard_->get_accKeyboardShortcut(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* text) override {
        return IsProgress(child) ? Nothing(text) : standard_->get_accDefaultAction(child, text);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return IsProgress(child) ? DISP_E_MEMBERNOTFOUND : standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return IsProgress(start) ? DISP_E_MEMBERNOTFOUND : standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return IsProgress(child) ? DISP_E_MEMBERNOTFOUND : standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

private:
    ~ChangedAccessible() { standard_->Release(); }

    static bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }
    static HRESULT Nothing(BSTR* text) {
        *text = nullptr;
        return S_FALSE;
    }
    // The progress row comes after the standard object's own children.
    [[nodiscard]] long ProgressId() const {
        long count = 0;
        return SUCCEEDED(standard_->get_accChildCount(&count)) ? count + 1 : 1;
    }
    [[nodiscard]] bool IsProgress(const VARIANT& child) const {
        return changes_.progress && child.vt == VT_I4 && child.lVal == ProgressId();
    }

    std::atomic<ULONG> references_{1};
    IAccessible* standard_;
    AccessibleChanges changes_;
};

}  // namespace

std::optional<LRESULT> AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam, AccessibleChanges changes) {
    if (static_cast<LONG>(lParam) != OBJID_CLIENT) {
        return std::nullopt;
    }
    const Oleacc& oleacc = Library();
    IAccessible* standard = nullptr;
    if (oleacc.createStd == nullptr || oleacc.lresultFrom == nullptr ||
        FAILED(oleacc.createStd(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&standard)))) {
        return std::nullopt;
    }
    auto* changed = new ChangedAccessible(standard, std::move(changes));
    const LRESULT result = oleacc.lresultFrom(__uuidof(IAccessible), wParam, changed);
    changed->Release();
    return result;
}

}  // namespace tessaloom::ui
