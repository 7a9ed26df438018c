#include "protocol/cloud_request_queue.h"

#include <algorithm>
#include <utility>

namespace orvane {

bool CloudRequestQueue::Park(CloudRequest request) {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    if (m_vecCloudRequest.size() >= kMaxCloudRequests) {
        return false;
    }
    m_vecCloudRequest.push_back(std::move(request));
    return true;
}

bool CloudRequestQueue::Take(CloudRequest* request) {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    if (m_vecCloudRequest.empty()) {
        return false;
    }
    *request = std::move(m_vecCloudRequest.front());
    m_vecCloudRequest.pop_front();
    return true;
}

std::deque<CloudRequest> CloudRequestQueue::Pending() const {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    return m_vecCloudRequest;
}

bool CloudRequestQueue::IsDownloaded(const std::string& model) const {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    return std::find(m_vecDownloadedModel.begin(), m_vecDownloadedModel.end(), model) !=
           m_vecDownloadedModel.end();
}

void CloudRequestQueue::MarkDownloaded(const std::string& model) {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    m_vecDownloadedModel.push_back(model);
}

void CloudRequestQueue::Clear() {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    m_vecCloudRequest.clear();
    m_vecDownloadedModel.clear();
}

}  // namespace orvane
