#include "engine/errors.hpp"

// Not among the smart pointers <comdef.h> declares on MinGW.
_COM_SMARTPTR_TYPEDEF(ICreateErrorInfo, __uuidof(ICreateErrorInfo));
_COM_SMARTPTR_TYPEDEF(ISupportErrorInfo, __uuidof(ISupportErrorInfo));
_COM_SMARTPTR_TYPEDEF(IErrorInfo, __uuidof(IErrorInfo));

namespace zantrel {

ComError MakeComError(HResult code, const std::wstring& description) {
  ICreateErrorInfoPtr create;
  if (FAILED(CreateErrorInfo(&create))) return ComError(code);
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  return ComError(code, info);  // takes over the reference
}

void ThrowComError(HResult code, IUnknown* object, REFIID iid) {
  IErrorInfo* info = nullptr;
  ISupportErrorInfoPtr support;
  if (object != nullptr &&
      SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) &&
      support->InterfaceSupportsErrorInfo(iid) == S_OK && GetErrorInfo(0, &info) != S_OK)
    info = nullptr;
  throw ComError(code, info);  // takes over the reference
}

std::vector<std::wstring> ComErrorReport(const ComError& error) {
  std::vector<std::wstring> lines;
  const wchar_t* message = error.ErrorMessage();
  if (message != nullptr && *message != L'\0') lines.emplace_back(message);
  // The description line exists whenever the error has an error object.
  if (const IErrorInfoPtr info(error.ErrorInfo(), false); info) {  // ErrorInfo() adds a reference
    BSTR raw = nullptr;
    info->GetDescription(&raw);
    const _bstr_t text(raw, false);
    lines.emplace_back(text.length() == 0 ? L"" : static_cast<const wchar_t*>(text));
  }
  return lines;
}

}  // namespace zantrel
