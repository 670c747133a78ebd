#include "standins/common/ca_location.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "ca/cmp_service.h"
#include "pki/folders.h"

namespace veskar::standins {
namespace {

constexpr char kManagerPortSuffix[] = "+709";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The in-process servers, by canonical folder. Held only while an
// enrollment uses one, so a CA changed on disk is read afresh afterwards.
std::shared_ptr<ca::CmpService> ServiceFor(const std::string& folder, ca::CaStatus* status) {
  static std::mutex mutex;
  static std::map<std::string, std::weak_ptr<ca::CmpService>> services;
  const std::string key = pki::CanonicalPath(folder);
  std::lock_guard<std::mutex> guard(mutex);
  std::shared_ptr<ca::CmpService> service = services[key].lock();
  if (service) return service;
  std::unique_ptr<ca::LocalCa> opened;
  *status = ca::LocalCa::Open(folder, &opened);
  if (!status->ok()) return nullptr;
  // Whoever enrolls at a folder could read its register: an unknown
  // reference number is told as such.
  ca::ServiceOptions options;
  options.hide_unknown_references = false;
  service = std::make_shared<ca::CmpService>(std::move(opened), options);
  services[key] = service;
  return service;
}

}  // namespace

CaLocation CaLocation::Parse(const std::string& text) {
  CaLocation location;
  location.text_ = text;
  const size_t suffix = sizeof(kManagerPortSuffix) - 1;
  if (text.size() >= suffix &&
      text.compare(text.size() - suffix, suffix, kManagerPortSuffix) == 0) {
    location.text_.erase(text.size() - suffix);
  }
  location.server_ =
      StartsWith(location.text_, "http://") || StartsWith(location.text_, "https://");
  return location;
}

bool CaLocation::Check(std::string* reason) const {
  if (server_) return true;
  if (!pki::IsFolder(text_)) {
    *reason = "there is no CA folder " + text_ + " (make one with 'veskar ca init " + text_ + "')";
    return false;
  }
  std::unique_ptr<ca::LocalCa> opened;
  const ca::CaStatus status = ca::LocalCa::Open(text_, &opened);
  if (!status.ok()) *reason = status.message;
  return status.ok();
}

ca::CaStatus CaLocation::Connect(cmp::Transport* transport) const {
  *transport = cmp::Transport();
  transport->name = text_;
  if (server_) {
    transport->url = text_;
    return ca::CaStatus::Ok();
  }
  ca::CaStatus status;
  std::shared_ptr<ca::CmpService> service = ServiceFor(text_, &status);
  if (!service) return status;
  transport->answer = [service](const pki::Bytes& request) {
    ca::CmpService::Outcome outcome;
    return service->Handle(request.data(), request.size(), &outcome);
  };
  return ca::CaStatus::Ok();
}

std::string CaLocation::PairRefusal(int reference_number,
                                    const std::string& authorisation_code) const {
  std::unique_ptr<ca::LocalCa> opened;
  if (server_ || !ca::LocalCa::Open(text_, &opened).ok()) return "";
  return opened->CheckPair(reference_number, authorisation_code).message;
}

bool CheckCaLocation(const std::string& text, std::string* reason) {
  return CaLocation::Parse(text).Check(reason);
}

}  // namespace veskar::standins
