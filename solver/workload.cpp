#include "solver/workload.h"

#include <new>
#include <string>

#include "solver/soft_gaussian.h"
#include "solver/standing_wave.h"
#include "solver/yee_kernels.h"

namespace tavro {

yee_workload::~yee_workload() {
    if (fields_allocated_) {
        grid_.h.release();
        grid_.e.release();
    }
}

error_text yee_workload::allocate_fields(const grid_request& request) {
    yee_grid fresh = build_yee_grid(request, *ledger_);
    if (fields_allocated_) {
        grid_.h.release();
        grid_.e.release();
        fields_allocated_ = false;
    }
    grid_ = std::move(fresh);
    fields_allocated_ = true;
    if (grid_.e.has_storage() && grid_.h.has_storage()) {
        return std::nullopt;
    }
    return std::string("field allocation failed");
}

error_text yee_workload::step() {
    if (!update_h(grid_)) {
        return "solver H step error in thread " + std::to_string(thread_index());
    }
    if (!update_e(grid_)) {
        return "solver E step error in thread " + std::to_string(thread_index());
    }
    return std::nullopt;
}

std::uint64_t yee_workload::work_per_step() const {
    const std::uint64_t nh = grid_.h.dim() - 2;
    const std::uint64_t ne = grid_.e.dim() - 2;
    return nh * nh * nh + ne * ne * ne;
}

std::unique_ptr<workload> make_workload(std::string_view name, std::uint32_t thread_index) {
    if (name == "standing_wave") {
        return std::make_unique<standing_wave>(thread_index);
    }
    if (name == "soft_gaussian") {
        return std::make_unique<soft_gaussian>(thread_index);
    }
    return nullptr;
}

std::unique_ptr<workload> make_workload(std::string_view name, std::uint32_t thread_index,
                                        std::string_view /*isa_name*/) {
    return make_workload(name, thread_index);
}

}  // namespace tavro
