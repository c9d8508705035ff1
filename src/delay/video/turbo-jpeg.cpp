#include "delay/video/turbo-jpeg.h"

#include "delay/video/frame-limits.h"

#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <climits>
#include <new>

namespace kestrel {

namespace {

// MPEG-1's intra matrix, which libavcodec's MJPEG scales by its quantiser.
constexpr std::array<unsigned int, 64> kIntraMatrix{
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

struct ErrorManager {
	jpeg_error_mgr base;
	std::jmp_buf jump;
};

[[noreturn]] void leaveOnError(j_common_ptr info)
{
	std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

// Writes the JPEG straight into a byte array that only ever grows, so frames reuse it.
struct VectorDestination {
	jpeg_destination_mgr base;
	std::vector<uint8_t> *bytes;
	size_t written;
};

void startOutput(j_compress_ptr info)
{
	auto *dest = reinterpret_cast<VectorDestination *>(info->dest);
	dest->base.next_output_byte = dest->bytes->data();
	dest->base.free_in_buffer = dest->bytes->size();
}

boolean growOutput(j_compress_ptr info)
{
	auto *dest = reinterpret_cast<VectorDestination *>(info->dest);
	const size_t used = dest->bytes->size();
	// The error leaves by longjmp, which must not cross the handler: the exception would never
	// be finished and its object would leak.
	bool grown = true;
	try {
		dest->bytes->resize(used * 2);
	} catch (const std::bad_alloc &) {
		grown = false;
	}
	if (!grown)
		ERREXIT(info, JERR_OUT_OF_MEMORY);
	dest->base.next_output_byte = dest->bytes->data() + used;
	dest->base.free_in_buffer = dest->bytes->size() - used;
	return TRUE;
}

void finishOutput(j_compress_ptr info)
{
	auto *dest = reinterpret_cast<VectorDestination *>(info->dest);
	dest->written = dest->bytes->size() - dest->base.free_in_buffer;
}

struct HandleDeleter {
	void operator()(void *handle) const { tjDestroy(handle); }
};

} // namespace

struct TurboJpeg::Compressor {
	Compressor()
	{
		info.err = jpeg_std_error(&errors.base);
		errors.base.error_exit = leaveOnError;
		jpeg_create_compress(&info);
		destination.base.init_destination = startOutput;
		destination.base.empty_output_buffer = growOutput;
		destination.base.term_destination = finishOutput;
		destination.bytes = &output;
		info.dest = &destination.base;
	}
	~Compressor() { jpeg_destroy_compress(&info); }

	// Kept free of objects with destructors: an error leaves through longjmp.
	bool compress(const uint8_t *rgba, int width, int height, int quality, bool full444)
	{
		if (setjmp(errors.jump)) {
			jpeg_abort_compress(&info);
			return false;
		}
		info.image_width = static_cast<JDIMENSION>(width);
		info.image_height = static_cast<JDIMENSION>(height);
		info.input_components = 4;
		info.in_color_space = JCS_EXT_RGBA;
		jpeg_set_defaults(&info);
		const std::array<unsigned int, 64> table = quantTable(quality);
		jpeg_add_quant_table(&info, 0, table.data(), 100, TRUE);
		jpeg_add_quant_table(&info, 1, table.data(), 100, TRUE);
		const int lumaSampling = full444 ? 1 : 2;
		info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = lumaSampling;
		jpeg_start_compress(&info, TRUE);
		while (info.next_scanline < info.image_height) {
			auto row =
			    const_cast<JSAMPROW>(rgba + size_t{info.next_scanline} * size_t(width) * 4);
			jpeg_write_scanlines(&info, &row, 1);
		}
		jpeg_finish_compress(&info);
		return true;
	}

	jpeg_compress_struct info{};
	ErrorManager errors{};
	VectorDestination destination{};
	std::vector<uint8_t> output;
};

struct TurboJpeg::Decompressor {
	std::unique_ptr<void, HandleDeleter> handle{tjInitDecompress()};
};

TurboJpeg::TurboJpeg() = default;
TurboJpeg::~TurboJpeg() = default;

std::array<unsigned int, 64> TurboJpeg::quantTable(int quality)
{
	// libavcodec's tables at a quarter more quantiser: its MJPEG quantises with a dead zone that
	// libjpeg lacks, and this factor gives the same PSNR per setting on busy screen content, so
	// a setting costs about the same memory with either library.
	const unsigned int scale = static_cast<unsigned int>(std::clamp(quality, 1, 10)) * 5;
	std::array<unsigned int, 64> table{};
	table[0] = kIntraMatrix[0];
	for (size_t i = 1; i < table.size(); ++i)
		table[i] = std::clamp((kIntraMatrix[i] * scale) >> 5, 1u, 255u);
	return table;
}

bool TurboJpeg::encode(const uint8_t *rgba, int width, int height, int quality, bool full444,
		       std::vector<uint8_t> &packetOut)
{
	packetOut.clear();
	if (!compressor_)
		compressor_ = std::make_unique<Compressor>();
	// Start with room for a lightly compressed frame; the destination doubles it if needed.
	std::vector<uint8_t> &output = compressor_->output;
	output.resize(std::max({output.size(), size_t(width) * size_t(height), size_t{4096}}));
	if (!compressor_->compress(rgba, width, height, quality, full444))
		return false;
	packetOut.assign(output.begin(),
			 output.begin() + static_cast<ptrdiff_t>(compressor_->destination.written));
	return true;
}

bool TurboJpeg::decode(const uint8_t *bytes, size_t size, std::vector<uint8_t> &rgbaOut, uint32_t &widthOut,
		       uint32_t &heightOut)
{
	if (!decompressor_)
		decompressor_ = std::make_unique<Decompressor>();
	void *handle = decompressor_->handle.get();
	if (!handle || size > ULONG_MAX)
		return false;
	int width = 0, height = 0, subsampling = 0, colorspace = 0;
	if (tjDecompressHeader3(handle, bytes, static_cast<unsigned long>(size), &width, &height,
				&subsampling, &colorspace) != 0)
		return false;
	if (width <= 0 || height <= 0 || static_cast<uint32_t>(width) > kMaxFrameSide ||
	    static_cast<uint32_t>(height) > kMaxFrameSide)
		return false;
	rgbaOut.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
	// A damaged scan still fills the whole image (grey where data is missing), as libavcodec
	// does; only errors that stop decoding count as failure.
	if (tjDecompress2(handle, bytes, static_cast<unsigned long>(size), rgbaOut.data(), width, width * 4,
			  height, TJPF_RGBA, 0) != 0 &&
	    tjGetErrorCode(handle) != TJERR_WARNING)
		return false;
	widthOut = static_cast<uint32_t>(width);
	heightOut = static_cast<uint32_t>(height);
	return true;
}

} // namespace kestrel
