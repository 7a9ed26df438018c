#include "cloud/cloud_reply.h"

#include <json/json.h>

#include <cstring>
#include <exception>
#include <memory>

namespace orvane {

namespace {

// The refusal's reason as text; a structured value has none.
std::string MessageText(const Json::Value& msg) {
    if (msg.isString() || msg.isNumeric() || msg.isBool()) {
        return msg.asString();
    }
    return std::string();
}

bool ReadDataMember(const Json::Value& data, const char* name, std::string* out) {
    if (!data.isMember(name) || !data[name].isString()) {
        return false;
    }
    *out = data[name].asString();
    return true;
}

}  // namespace

int ParseCloudReply(const char* text, size_t length, CloudFirmwareInfo* info,
                    std::string* message) {
    *info = CloudFirmwareInfo{};
    message->clear();
    const size_t used = text ? ::strnlen(text, length) : 0;
    try {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (used == 0 || !reader->parse(text, text + used, &root, &errors)) {
            return kCloudBadReply;
        }
        if (!root.isObject() || !root.isMember("code") || !root["code"].isInt()) {
            return kCloudBadReply;
        }
        const int code = root["code"].asInt();
        if (code != 200) {
            *message = MessageText(root.get("msg", Json::Value()));
            return code != kCloudQueryOk ? code : kCloudBadReply;
        }
        if (!root.isMember("data") || !root["data"].isObject()) {
            return kCloudBadReply;
        }
        const Json::Value& data = root["data"];
        CloudFirmwareInfo found;
        if (!ReadDataMember(data, "model", &found.model) ||
            !ReadDataMember(data, "device_identify", &found.device_identify) ||
            !ReadDataMember(data, "file_url", &found.file_url) ||
            !ReadDataMember(data, "file_md5", &found.file_md5)) {
            return kCloudBadReply;
        }
        *info = std::move(found);
        return kCloudQueryOk;
    } catch (const std::exception&) {
        // The reader gives up on hostile nesting by throwing.
        *info = CloudFirmwareInfo{};
        message->clear();
        return kCloudBadReply;
    }
}

}  // namespace orvane
