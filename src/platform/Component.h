// The object model the components build on: a common base for event senders,
// the general exception class, and components with an owner that frees the
// components it owns.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// Base of everything that can be the Sender of an event.
class TObject {
 public:
  virtual ~TObject() = default;
};

// The general exception class: carries a message text. Component code that
// catches "the general exception class" catches std::exception, of which this
// is the common case.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
  std::string Message() const { return what(); }
};

// A component has an optional owner. The owner destroys the components it
// still owns when it is destroyed; a component destroyed earlier leaves its
// owner's list. While its destructor runs, Destroying() is true.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  bool Destroying() const { return destroying_; }

 protected:
  // Derived destructors call this first, so that everything they do while
  // tearing down already sees the component as being destroyed.
  void BeginDestroy() { destroying_ = true; }

 private:
  void InsertComponent(TComponent* c) { owned_.push_back(c); }
  void RemoveComponent(TComponent* c);

  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> owned_;
  bool destroying_ = false;
};
