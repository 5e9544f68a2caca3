#pragma once

#include <string>
#include <vector>

namespace qm {

// The small component model of the access layer: a component has a name and
// an owner. The owner relation only names things (OriginName, error texts);
// it does not own memory. An owner that goes away first detaches its
// components, so a component never holds a dangling owner.
class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr, std::string name = {});
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    TComponent* Owner() const { return owner_; }
    void SetOwner(TComponent* owner);

    // The names of this component and its owners up the chain, outermost
    // first, joined by "."; empty names are skipped. For the database of the
    // data module: "Moorquill.dm.DataBase".
    std::string OriginName() const;

private:
    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> components_;
};

}  // namespace qm
