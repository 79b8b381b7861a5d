// The host's abstract creator of objects of one interface type: a module hands out
// creators (for instance of YAJL handlers that parse job documents) and the host asks
// each for a fresh object whenever it needs one, giving it back through destroy().
#ifndef HOST_JOB_ENGINE_OBJECT_CREATOR_H
#define HOST_JOB_ENGINE_OBJECT_CREATOR_H

template <typename T>
class Object_Creator_T {
 public:
  typedef T object_type;

  Object_Creator_T() : argc_(0), argv_(nullptr) {}
  virtual ~Object_Creator_T() {}
  Object_Creator_T(const Object_Creator_T&) = delete;
  Object_Creator_T& operator=(const Object_Creator_T&) = delete;

  // The host's bookkeeping around the creator's life (it keeps the arguments it was
  // set up with); 0.
  virtual int init(int argc, char** argv) {
    argc_ = argc;
    argv_ = argv;
    return 0;
  }
  virtual int fini() {
    argc_ = 0;
    argv_ = nullptr;
    return 0;
  }

  // A new object owned by the caller, or null (errno set) when none could be made.
  virtual object_type* create() = 0;
  // Gives back an object made by create(); null does nothing.
  virtual void destroy(object_type* object) = 0;

 private:
  long argc_;
  char** argv_;
};

#endif  // HOST_JOB_ENGINE_OBJECT_CREATOR_H
