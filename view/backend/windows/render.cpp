// The graphics devices (Direct3D 11, DXGI, a Direct2D 1.1 device context), the DirectWrite
// factory, the render target of each window (an HWND swap chain and the bitmap over its back
// buffer), device loss, read-back into a DIB, colours and the frame clock.
#include "view/backend/windows/render.h"

#include <cstring>

#include "runtime/datatypes/object.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "view/backend/windows/gui.h"

int64_t gui::com_live = 0;
gui::gx_state gui::gx{};

namespace {

using gui::gx;

bool gpu_wanted()
{
    cell v = object::system_field({"view", "GPU?"});
    return !(cell_type(&v) == TYPE_LOGIC && !v.data1) && cell_type(&v) != TYPE_NONE;
}

HRESULT create_device(D3D_DRIVER_TYPE type)
{
    if (gx.fail_devices > 0) {
        gx.fail_devices--;
        return E_FAIL;
    }
    return D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_SINGLETHREADED,
                             nullptr, 0, D3D11_SDK_VERSION, gx.d3d.put(), nullptr, gx.d3d_context.put());
}

void release_dib(gui::render_target* rt)
{
    rt->staging.reset();
    if (rt->mem_dc) {
        if (rt->old_bitmap) SelectObject(rt->mem_dc, rt->old_bitmap);
        DeleteDC(rt->mem_dc);
    }
    if (rt->dib) DeleteObject(rt->dib);
    rt->mem_dc = nullptr;
    rt->dib = nullptr;
    rt->old_bitmap = nullptr;
    rt->pixels = nullptr;
    rt->dib_width = rt->dib_height = 0;
}

bool make_target_bitmap(gui::render_target* rt)
{
    gui::com<IDXGISurface> surface;
    if (FAILED(rt->swap->GetBuffer(0, __uuidof(IDXGISurface), surface.put_void()))) return false;
    float dpi = float(gui_s.dpi);
    gx.context->SetDpi(dpi, dpi);
    D2D1_BITMAP_PROPERTIES1 props{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, dpi, dpi,
                                  D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW, nullptr};
    return SUCCEEDED(gx.context->CreateBitmapFromDxgiSurface(surface.p, &props, rt->bitmap.put()));
}

[[noreturn]] void no_create(HWND hwnd)
{
    cell face = gui::get_face_obj(hwnd);
    fire(ERR_ACCESS, err::NO_CREATE, &face);
}

BOOL CALLBACK drop_child(HWND hwnd, LPARAM)
{
    window_record* r = gui::record_of(hwnd);
    if (r && r->render_target) {
        gui::release_target(hwnd);
        InvalidateRect(hwnd, nullptr, FALSE);
    }
    return TRUE;
}

BOOL CALLBACK drop_top(HWND hwnd, LPARAM l)
{
    drop_child(hwnd, l);
    EnumChildWindows(hwnd, drop_child, l);
    return TRUE;
}

}  // namespace

bool gui::init_direct2d()
{
    if (gx.d2d) return gx.d3d.p != nullptr;
    HMODULE dw = LoadLibraryW(L"DWrite.dll");
    using dwrite_fn = HRESULT(WINAPI*)(DWRITE_FACTORY_TYPE, REFIID, IUnknown**);
    auto create = gui::proc<dwrite_fn>(dw, "DWriteCreateFactory");
    if (!create) {
        gx.no_dwrite = true;
        return false;
    }
    D2D1_FACTORY_OPTIONS options{D2D1_DEBUG_LEVEL_NONE};
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), &options,
                                 gx.d2d.put_void())))
        return false;
    create(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory), reinterpret_cast<IUnknown**>(gx.dwrite.put()));
    gx.locale[0] = 0;
    using locale_fn = int(WINAPI*)(LPWSTR, int);
    if (auto get = gui::proc<locale_fn>(GetModuleHandleW(L"kernel32.dll"), "GetUserDefaultLocaleName"))
        if (!get(gx.locale, 85)) gx.locale[0] = 0;
    if (!gx.locale[0]) wcscpy(gx.locale, L"en-us");
    return dx_create_dev();
}

// Hardware when system/view/GPU? asks for it, else WARP; one retry with WARP. When both fail the
// devices stay null and every target refuses to be made.
bool gui::dx_create_dev()
{
    if (gx.d3d || gx.context) release_dx();
    D3D_DRIVER_TYPE type = gpu_wanted() ? D3D_DRIVER_TYPE_HARDWARE : D3D_DRIVER_TYPE_WARP;
    HRESULT hr = create_device(type);
    if (FAILED(hr)) {
        type = D3D_DRIVER_TYPE_WARP;
        hr = create_device(type);
    }
    if (FAILED(hr)) {
        release_dx();
        return false;
    }
    gx.warp = type == D3D_DRIVER_TYPE_WARP;
    com<IDXGIDevice> dxgi_device;
    com<IDXGIAdapter> adapter;
    if (FAILED(gx.d3d->QueryInterface(__uuidof(IDXGIDevice), dxgi_device.put_void())) ||
        FAILED(gx.d2d->CreateDevice(dxgi_device.p, gx.d2d_device.put())) ||
        FAILED(gx.d2d_device->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, gx.context.put())) ||
        FAILED(dxgi_device->GetAdapter(adapter.put())) ||
        FAILED(adapter->GetParent(__uuidof(IDXGIFactory2), gx.dxgi.put_void()))) {
        release_dx();
        return false;
    }
    gx.context->SetDpi(float(gui_s.dpi), float(gui_s.dpi));
    gx.generation++;
    return true;
}

void gui::release_dx()
{
    gx.dxgi.reset();
    gx.context.reset();
    gx.d2d_device.reset();
    if (gx.d3d_context) {
        gx.d3d_context->ClearState();
        gx.d3d_context->Flush();
    }
    gx.d3d_context.reset();
    gx.d3d.reset();
}

void gui::release_factories()
{
    drop_all_targets();
    if (gx.measure_window) DestroyWindow(gx.measure_window);
    gx.measure_window = nullptr;
    release_dx();
    gx.dwrite.reset();
    gx.d2d.reset();
}

gui::render_target* gui::get_render_target(HWND hwnd)
{
    window_record* r = record_of(hwnd);
    if (!r) no_create(hwnd);
    if (r->render_target) return static_cast<render_target*>(r->render_target);
    if (!gx.d2d) init_direct2d();
    if (!gx.d3d && gx.d2d) dx_create_dev();
    if (!gx.d3d || !gx.dxgi || !gx.context) no_create(hwnd);
    RECT rc;
    GetClientRect(hwnd, &rc);
    auto* rt = new render_target{};
    DXGI_SWAP_CHAIN_DESC1 desc{};
    desc.Width = UINT(rc.right > 0 ? rc.right : 1);
    desc.Height = UINT(rc.bottom > 0 ? rc.bottom : 1);
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 1;
    desc.Scaling = DXGI_SCALING_STRETCH;
    desc.SwapEffect = DXGI_SWAP_EFFECT_SEQUENTIAL;
    desc.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
    rt->swap_flags = desc.Flags;
    if (FAILED(gx.dxgi->CreateSwapChainForHwnd(gx.d3d.p, hwnd, &desc, nullptr, nullptr, rt->swap.put())) ||
        !make_target_bitmap(rt)) {
        delete rt;
        no_create(hwnd);
    }
    r->render_target = rt;
    return rt;
}

void gui::resize_swap_chain(render_target* rt, int32_t width, int32_t height)
{
    rt->bitmap.reset();
    rt->staging.reset();
    if (!rt->swap) return;
    if (FAILED(rt->swap->ResizeBuffers(0, UINT(width > 0 ? width : 1), UINT(height > 0 ? height : 1),
                                       DXGI_FORMAT_B8G8R8A8_UNORM, rt->swap_flags))) {
        rt_print_line({"resizing failed"});
        return;
    }
    make_target_bitmap(rt);
}

void gui::release_target(HWND hwnd)
{
    window_record* r = record_of(hwnd);
    if (!r || !r->render_target) return;
    auto* rt = static_cast<render_target*>(r->render_target);
    r->render_target = nullptr;
    release_dib(rt);
    delete rt;
}

void gui::drop_all_targets() { EnumThreadWindows(GetCurrentThreadId(), drop_top, 0); }

void gui::device_lost(HWND hwnd)
{
    drop_all_targets();
    dx_create_dev();
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}

HDC gui::update_layered_dib(HWND hwnd)
{
    window_record* r = record_of(hwnd);
    if (!gx.d3d || !r || !r->render_target) return nullptr;
    auto* rt = static_cast<render_target*>(r->render_target);
    RECT rc;
    GetClientRect(hwnd, &rc);
    if (!rt->swap || rc.right < 1 || rc.bottom < 1) return nullptr;
    if (rt->dib_width != rc.right || rt->dib_height != rc.bottom || !rt->dib) {
        release_dib(rt);
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = UINT(rc.right);
        desc.Height = UINT(rc.bottom);
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc = {1, 0};
        desc.Usage = D3D11_USAGE_STAGING;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        if (FAILED(gx.d3d->CreateTexture2D(&desc, nullptr, rt->staging.put()))) return nullptr;
        rt->mem_dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), rc.right, -rc.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        rt->dib = CreateDIBSection(rt->mem_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!rt->mem_dc || !rt->dib || !bits) {
            release_dib(rt);
            return nullptr;
        }
        rt->old_bitmap = SelectObject(rt->mem_dc, rt->dib);
        rt->pixels = static_cast<uint8_t*>(bits);
        rt->dib_width = rc.right;
        rt->dib_height = rc.bottom;
    }
    com<ID3D11Texture2D> back;
    if (FAILED(rt->swap->GetBuffer(0, __uuidof(ID3D11Texture2D), back.put_void()))) return nullptr;
    D3D11_TEXTURE2D_DESC back_desc;
    back->GetDesc(&back_desc);
    if (int32_t(back_desc.Width) != rt->dib_width || int32_t(back_desc.Height) != rt->dib_height) return nullptr;
    gx.d3d_context->CopyResource(rt->staging.p, back.p);
    D3D11_MAPPED_SUBRESOURCE map;
    if (FAILED(gx.d3d_context->Map(rt->staging.p, 0, D3D11_MAP_READ, 0, &map))) return nullptr;
    const auto* src = static_cast<const uint8_t*>(map.pData);
    size_t row = size_t(rt->dib_width) * 4;
    for (int32_t y = 0; y < rt->dib_height; y++) memcpy(rt->pixels + row * size_t(y), src + size_t(map.RowPitch) * size_t(y), row);
    gx.d3d_context->Unmap(rt->staging.p, 0);
    return rt->mem_dc;
}

// ---- colours ------------------------------------------------------------------------------------

uint32_t gui::tuple_to_color(const cell* t)
{
    if (cell_type(t) != TYPE_TUPLE) return 0;
    const uint8_t* b = tuple::bytes_of(t);
    uint32_t c = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16;
    if (tuple::size_of(t) > 3) c |= uint32_t(b[3]) << 24;
    return c;
}

D2D1_COLOR_F gui::to_dx_color(uint32_t c)
{
    return D2D1_COLOR_F{float(c & 0xFF) / 255.0f, float(c >> 8 & 0xFF) / 255.0f, float(c >> 16 & 0xFF) / 255.0f,
                        float(255 - (c >> 24)) / 255.0f};
}

uint32_t gui::to_bgr(uint32_t c)
{
    return (c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16 | (~c & 0xFF000000u);
}

// ---- the frame clock ----------------------------------------------------------------------------

namespace {
int64_t clock_frequency;
}

void gui::mark_time(int64_t* mark)
{
    LARGE_INTEGER v;
    if (!clock_frequency) {
        QueryPerformanceFrequency(&v);
        clock_frequency = v.QuadPart > 0 ? v.QuadPart : 1;
    }
    QueryPerformanceCounter(&v);
    *mark = v.QuadPart;
}

// All 64 bits of the ticks: a clock that ran past 2^32 ticks since the mark still counts right.
double gui::elapsed_ms(int64_t* mark)
{
    if (!clock_frequency) mark_time(mark);
    LARGE_INTEGER v;
    QueryPerformanceCounter(&v);
    int64_t ticks = v.QuadPart - *mark;
    if (ticks < 0) {
        *mark = v.QuadPart;
        ticks = 0x7FFFFFFF;
    }
    return double(ticks) * 1000.0 / double(clock_frequency);
}
