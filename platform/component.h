// The component base: objects with an owner that frees what it owns, and the event types.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TObject {
public:
    virtual ~TObject() = default;
};

// A component may have an owner; the owner frees the components it owns when it is freed.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    std::size_t ComponentCount() const { return components_.size(); }

    std::string Name;
    std::intptr_t Tag = 0;

private:
    void RemoveComponent(TComponent* component);

    TComponent* owner_;
    std::vector<TComponent*> components_;
};

// Events are method references: "assigned" means a procedure is set, and an event is raised only
// when it is assigned.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TDataAvailable = std::function<void(TObject* Sender, std::uint16_t Error)>;
using TSNTPError = std::function<void(TObject* Sender, std::uint16_t Error)>;
