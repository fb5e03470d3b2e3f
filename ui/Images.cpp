#include "Images.h"

#include "EmbeddedImages.h"
#include "Scale.h"

#include <FL/Fl_PNG_Image.H>

#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace {

std::unique_ptr<Fl_RGB_Image> Decode(unsigned nId)
{
    for (size_t i = 0; i < kEmbeddedImageCount; ++i) {
        const SEmbeddedImage& embedded = kEmbeddedImages[i];
        if (embedded.nId != nId || embedded.nSize > INT_MAX)
            continue;
        auto pImage = std::make_unique<Fl_PNG_Image>(nullptr, embedded.pData, static_cast<int>(embedded.nSize));
        if (pImage->w() > 0 && pImage->h() > 0 && pImage->d() >= 3)
            return pImage;
    }
    return nullptr;
}

std::unique_ptr<Fl_RGB_Image> ScaledCopy(Fl_RGB_Image& image, int nWidth, int nHeight)
{
    const Fl_RGB_Scaling eOld = Fl_Image::RGB_scaling();
    Fl_Image::RGB_scaling(FL_RGB_SCALING_BILINEAR);
    std::unique_ptr<Fl_RGB_Image> pCopy(static_cast<Fl_RGB_Image*>(image.copy(nWidth, nHeight)));
    Fl_Image::RGB_scaling(eOld);
    return pCopy;
}

} // namespace

Fl_RGB_Image* GetImage(unsigned nId)
{
    // Never destroyed: pictures decoded ahead may still be decoding when
    // the program ends early.
    static auto* const pDecoding = new std::mutex;
    static auto* const pImages = new std::map<unsigned, std::unique_ptr<Fl_RGB_Image>>;
    const std::lock_guard<std::mutex> lock(*pDecoding);
    auto found = pImages->find(nId);
    if (found == pImages->end())
        found = pImages->emplace(nId, Decode(nId)).first;
    return found->second.get();
}

void DecodeAllImages()
{
    for (size_t i = 0; i < kEmbeddedImageCount; ++i)
        GetImage(kEmbeddedImages[i].nId);
}

Fl_RGB_Image* GetScaledImage(unsigned nId)
{
    Fl_RGB_Image* pImage = GetImage(nId);
    return pImage ? GetImageAtSize(nId, Scaled(pImage->w()), Scaled(pImage->h())) : nullptr;
}

Fl_RGB_Image* GetImageAtSize(unsigned nId, int nWidth, int nHeight)
{
    Fl_RGB_Image* pImage = GetImage(nId);
    if (!pImage || (nWidth == pImage->w() && nHeight == pImage->h()))
        return pImage;
    static std::map<std::tuple<unsigned, int, int>, std::unique_ptr<Fl_RGB_Image>> copies;
    std::unique_ptr<Fl_RGB_Image>& pCopy = copies[{nId, nWidth, nHeight}];
    if (!pCopy)
        pCopy = ScaledCopy(*pImage, nWidth, nHeight);
    return pCopy.get();
}
