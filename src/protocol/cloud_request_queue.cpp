#include "protocol/cloud_request_queue.h"

#include <algorithm>
#include <utility>

namespace orvane {

CloudRequest* CloudRequestQueue::FindWaiting(const std::string& mac) {
    for (CloudRequest& r : m_vecCloudRequest) {
        if (r.szMac == mac) {
            return &r;
        }
    }
    return nullptr;
}

CloudRequestQueue::ParkResult CloudRequestQueue::Park(CloudRequest request) {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    CloudRequest* entry =
        m_bInHand && m_inHand.szMac == request.szMac ? &m_inHand : FindWaiting(request.szMac);
    if (entry) {
        entry->iSequence = request.iSequence;
        entry->iCseq = request.iCseq;
        return ParkResult::kUpdated;
    }
    if (m_vecCloudRequest.size() >= kMaxCloudRequests) {
        return ParkResult::kFull;
    }
    m_vecCloudRequest.push_back(std::move(request));
    return ParkResult::kParked;
}

bool CloudRequestQueue::Take(CloudRequest* request) {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    if (m_vecCloudRequest.empty()) {
        return false;
    }
    m_inHand = std::move(m_vecCloudRequest.front());
    m_vecCloudRequest.pop_front();
    m_bInHand = true;
    *request = m_inHand;
    return true;
}

void CloudRequestQueue::EndInHand(CloudRequest* latest) {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    if (m_bInHand && latest) {
        *latest = m_inHand;
    }
    m_bInHand = false;
}

bool CloudRequestQueue::Claim(const std::string& mac, int sequence, int cseq) {
    std::lock_guard<std::mutex> lock(m_csCloudRequest);
    if (m_bInHand && m_inHand.szMac == mac) {
        m_inHand.iSequence = sequence;
        m_inHand.iCseq = cseq;
        return false;
    }
    for (auto it = m_vecCloudRequest.begin(); it != m_vecCloudRequest.end(); ++it) {
        if (it->szMac == mac) {
            m_vecCloudRequest.erase(it);
            break;
        }
    }
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
    m_bInHand = false;
    m_vecDownloadedModel.clear();
}

}  // namespace orvane
