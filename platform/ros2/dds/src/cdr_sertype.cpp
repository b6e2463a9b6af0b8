#include "ros2_dds/cdr_sertype.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include <dds/ddsi/q_radmin.h>

namespace ros2_dds {
namespace {

struct CdrSertype : ddsi_sertype {};

struct CdrSerdata : ddsi_serdata {
  std::vector<std::uint8_t> bytes;
};

extern const ddsi_serdata_ops serdata_ops;
extern const ddsi_sertype_ops sertype_ops;

CdrSerdata* new_serdata(const ddsi_sertype* type, ddsi_serdata_kind kind) {
  auto* d = new CdrSerdata();
  ddsi_serdata_init(d, type, kind);
  // Keyless: every sample is the one instance, so every sample hashes alike.
  d->hash = type->serdata_basehash;
  return d;
}

// ---- serdata ----

bool serdata_eqkey(const ddsi_serdata*, const ddsi_serdata*) {
  return true;
}

uint32_t serdata_size(const ddsi_serdata* d) {
  return static_cast<uint32_t>(static_cast<const CdrSerdata*>(d)->bytes.size());
}

ddsi_serdata* serdata_from_ser(const ddsi_sertype* type, ddsi_serdata_kind kind,
                               const nn_rdata* fragchain, size_t size) {
  CdrSerdata* d = new_serdata(type, kind);
  if (kind != SDK_DATA) {
    return d;
  }
  d->bytes.resize(size);
  // Fragments arrive in order and may overlap; copy each byte once.
  size_t filled = 0;
  for (const nn_rdata* frag = fragchain; frag != nullptr && filled < size; frag = frag->nextfrag) {
    if (frag->maxp1 <= filled || frag->min > filled) {
      continue;
    }
    const unsigned char* payload = NN_RMSG_PAYLOADOFF(frag->rmsg, NN_RDATA_PAYLOAD_OFF(frag));
    const size_t end = std::min<size_t>(frag->maxp1, size);
    std::memcpy(d->bytes.data() + filled, payload + (filled - frag->min), end - filled);
    filled = end;
  }
  d->bytes.resize(filled);
  return d;
}

ddsi_serdata* serdata_from_ser_iov(const ddsi_sertype* type, ddsi_serdata_kind kind,
                                   ddsrt_msg_iovlen_t niov, const ddsrt_iovec_t* iov, size_t size) {
  CdrSerdata* d = new_serdata(type, kind);
  if (kind != SDK_DATA) {
    return d;
  }
  d->bytes.reserve(size);
  for (ddsrt_msg_iovlen_t i = 0; i < niov && d->bytes.size() < size; ++i) {
    const auto* base = static_cast<const std::uint8_t*>(iov[i].iov_base);
    const size_t take = std::min<size_t>(iov[i].iov_len, size - d->bytes.size());
    d->bytes.insert(d->bytes.end(), base, base + take);
  }
  return d;
}

ddsi_serdata* serdata_from_keyhash(const ddsi_sertype* type, const ddsi_keyhash*) {
  return new_serdata(type, SDK_KEY);
}

ddsi_serdata* serdata_from_sample(const ddsi_sertype* type, ddsi_serdata_kind kind,
                                  const void* sample) {
  CdrSerdata* d = new_serdata(type, kind);
  if (kind == SDK_DATA) {
    d->bytes = static_cast<const CdrSample*>(sample)->bytes;
  }
  return d;
}

ddsi_serdata* serdata_to_untyped(const ddsi_serdata* d) {
  // Keyless: the untyped form (what instance bookkeeping keeps) carries no bytes at all.
  CdrSerdata* untyped = new_serdata(d->type, SDK_KEY);
  untyped->type = nullptr;
  return untyped;
}

void serdata_to_ser(const ddsi_serdata* d, size_t off, size_t sz, void* buf) {
  const auto& bytes = static_cast<const CdrSerdata*>(d)->bytes;
  if (off < bytes.size()) {
    std::memcpy(buf, bytes.data() + off, std::min(sz, bytes.size() - off));
  }
}

ddsi_serdata* serdata_to_ser_ref(const ddsi_serdata* d, size_t off, size_t sz, ddsrt_iovec_t* ref) {
  const auto& bytes = static_cast<const CdrSerdata*>(d)->bytes;
  off = std::min(off, bytes.size());
  ref->iov_base = const_cast<std::uint8_t*>(bytes.data() + off);
  ref->iov_len = static_cast<ddsrt_iov_len_t>(std::min(sz, bytes.size() - off));
  return ddsi_serdata_ref(d);
}

void serdata_to_ser_unref(ddsi_serdata* d, const ddsrt_iovec_t*) {
  ddsi_serdata_unref(d);
}

bool serdata_to_sample(const ddsi_serdata* d, void* sample, void**, void*) {
  static_cast<CdrSample*>(sample)->bytes = static_cast<const CdrSerdata*>(d)->bytes;
  return true;
}

bool serdata_untyped_to_sample(const ddsi_sertype*, const ddsi_serdata*, void* sample, void**,
                               void*) {
  static_cast<CdrSample*>(sample)->bytes.clear();
  return true;
}

void serdata_free(ddsi_serdata* d) {
  delete static_cast<CdrSerdata*>(d);
}

size_t serdata_print(const ddsi_sertype*, const ddsi_serdata* d, char* buf, size_t size) {
  const int n = std::snprintf(buf, size, "(CDR sample, %zu bytes)",
                              static_cast<const CdrSerdata*>(d)->bytes.size());
  return n < 0 ? 0 : static_cast<size_t>(n);
}

void serdata_get_keyhash(const ddsi_serdata*, ddsi_keyhash* buf, bool) {
  std::memset(buf->value, 0, sizeof(buf->value));
}

// ---- sertype ----

void sertype_free(ddsi_sertype* tp) {
  ddsi_sertype_fini(tp);
  delete static_cast<CdrSertype*>(tp);
}

void sertype_zero_samples(const ddsi_sertype*, void* samples, size_t count) {
  auto* s = static_cast<CdrSample*>(samples);
  for (size_t i = 0; i < count; ++i) {
    s[i].bytes.clear();
  }
}

void sertype_realloc_samples(void** ptrs, const ddsi_sertype*, void* old, size_t oldcount,
                             size_t count) {
  auto* fresh = new CdrSample[count];
  auto* previous = static_cast<CdrSample*>(old);
  for (size_t i = 0; i < std::min(oldcount, count); ++i) {
    fresh[i] = std::move(previous[i]);
  }
  delete[] previous;
  for (size_t i = 0; i < count; ++i) {
    ptrs[i] = &fresh[i];
  }
}

void sertype_free_samples(const ddsi_sertype*, void** ptrs, size_t count, dds_free_op_t op) {
  if (count == 0 || ptrs == nullptr || ptrs[0] == nullptr) {
    return;
  }
  auto* samples = static_cast<CdrSample*>(ptrs[0]);
  if (op & DDS_FREE_ALL_BIT) {
    delete[] samples;
  } else {
    for (size_t i = 0; i < count; ++i) {
      samples[i].bytes.clear();
    }
  }
}

bool sertype_equal(const ddsi_sertype*, const ddsi_sertype*) {
  // Cyclone has compared the type names and operations already; nothing else distinguishes two.
  return true;
}

uint32_t sertype_hash(const ddsi_sertype*) {
  return 0;
}

size_t sertype_serialized_size(const ddsi_sertype*, const void* sample) {
  return static_cast<const CdrSample*>(sample)->bytes.size();
}

bool sertype_serialize_into(const ddsi_sertype*, const void* sample, void* dst, size_t dst_size) {
  const auto& bytes = static_cast<const CdrSample*>(sample)->bytes;
  if (bytes.size() > dst_size) {
    return false;
  }
  std::memcpy(dst, bytes.data(), bytes.size());
  return true;
}

const ddsi_serdata_ops serdata_ops = {
    serdata_eqkey,
    serdata_size,
    serdata_from_ser,
    serdata_from_ser_iov,
    serdata_from_keyhash,
    serdata_from_sample,
    serdata_to_ser,
    serdata_to_ser_ref,
    serdata_to_ser_unref,
    serdata_to_sample,
    serdata_to_untyped,
    serdata_untyped_to_sample,
    serdata_free,
    serdata_print,
    serdata_get_keyhash,
#ifdef DDS_HAS_SHM
    nullptr,
    nullptr,
#endif
};

const ddsi_sertype_ops sertype_ops = {
    ddsi_sertype_v0,
    nullptr,
    sertype_free,
    sertype_zero_samples,
    sertype_realloc_samples,
    sertype_free_samples,
    sertype_equal,
    sertype_hash,
    nullptr,  // type_id
    nullptr,  // type_map
    nullptr,  // type_info
    nullptr,  // derive_sertype
    sertype_serialized_size,
    sertype_serialize_into,
};

}  // namespace

ddsi_sertype* create_cdr_sertype(const std::string& dds_type_name) {
  auto* type = new CdrSertype();
  ddsi_sertype_init(type, dds_type_name.c_str(), &sertype_ops, &serdata_ops,
                    /*topickind_no_key=*/true);
  // ROS 2 speaks plain (XCDR1) CDR; announcing only that keeps XCDR2-capable peers from choosing
  // a representation we do not write.
  type->allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
  return type;
}

ddsi_serdata* make_cdr_serdata(const ddsi_sertype* type, std::vector<std::uint8_t>&& bytes) {
  CdrSerdata* d = new_serdata(type, SDK_DATA);
  d->bytes = std::move(bytes);
  // DDSI payloads are whole 4-byte words; Cyclone rejects a DATA or DATA_FRAG submessage whose
  // sample size is not. The zero padding lies after the last field, where readers ignore it.
  d->bytes.resize((d->bytes.size() + 3) / 4 * 4, 0);
  return d;
}

const std::vector<std::uint8_t>* cdr_bytes(const ddsi_serdata* serdata) {
  if (serdata == nullptr || serdata->ops != &serdata_ops || serdata->kind != SDK_DATA) {
    return nullptr;
  }
  return &static_cast<const CdrSerdata*>(serdata)->bytes;
}

bool is_cdr_sertype(const ddsi_sertype* type) {
  return type != nullptr && type->ops == &sertype_ops;
}

}  // namespace ros2_dds
