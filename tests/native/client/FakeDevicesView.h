#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "client/FormUSBDevicesUnit.h"

// The tree and controls as the window shows them.
class FakeDevicesView : public TFormUSBDevices::View {
public:
    struct Node {
        std::string text;
        int image;
        TDevice* device;
    };
    std::vector<Node> nodes; // the root's children
    TFormUSBDevices::Selection selection;
    bool ejectEnabled = true;
    bool browseEnabled = false;
    int expansions = 0;
    std::string caption = "Driveward";
    std::vector<bool> stayOnTop;
    int closes = 0;
    int abouts = 0;
    std::vector<std::string> explorerPaths;
    ShellOutcome shell = ShellOutcome::Opened; // how the desktop's shell answers
    std::vector<std::string> messages;
    bool registrationSucceeds = true;
    int registrations = 0;
    int unregistrations = 0;
    std::function<void()> pendingMessages; // what a ProcessMessages pass handles
    std::function<void(const std::string&)> onAddNode;

    void DeleteRootChildren() override { nodes.clear(); }
    TFormUSBDevices::NodeId AddRootChild(const std::string& text, int image) override {
        nodes.push_back({text, image, nullptr});
        if (onAddNode) {
            onAddNode(text);
        }
        return nodes.size();
    }
    void SetNodeDevice(TFormUSBDevices::NodeId node, TDevice* device) override {
        nodes.at(node - 1).device = device;
    }
    TFormUSBDevices::Selection Selected() override { return selection; }
    void SetEjectEnabled(bool enabled) override { ejectEnabled = enabled; }
    void SetBrowseEnabled(bool enabled) override { browseEnabled = enabled; }
    void ProcessMessages() override {
        if (auto handle = std::exchange(pendingMessages, nullptr)) {
            handle();
        }
    }
    void ExpandTree() override { ++expansions; }
    std::string Caption() override { return caption; }
    void SetCaption(const std::string& text) override { caption = text; }
    void SetStayOnTop(bool onTop) override { stayOnTop.push_back(onTop); }
    void Close() override { ++closes; }
    void ShowAbout() override { ++abouts; }
    ShellOutcome RunExplorerAsUser(const std::string& path) override {
        explorerPaths.push_back(path);
        return shell;
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool RegisterSessionNotification() override {
        ++registrations;
        return registrationSucceeds;
    }
    void UnregisterSessionNotification() override { ++unregistrations; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& node : nodes) {
            texts.push_back(node.text);
        }
        return texts;
    }
};
