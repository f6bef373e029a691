#include "ui/pictures/Jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace korvane::pictures {

namespace {

constexpr JDIMENSION COTE_MAX = 16384;

// libjpeg's default error manager prints and calls exit(). Ours jumps back to the caller
// on an error and counts warnings (a corrupt stream that libjpeg patches up with grey is
// still a corrupt picture).
struct ErreurJpeg {
    jpeg_error_mgr base;
    std::jmp_buf retour;
    int avertissements;
};

[[noreturn]] void erreurFatale(j_common_ptr info)
{
    auto* erreur = reinterpret_cast<ErreurJpeg*>(info->err);
    std::longjmp(erreur->retour, 1);
}

void message(j_common_ptr info, int niveau)
{
    if (niveau < 0) {
        ++reinterpret_cast<ErreurJpeg*>(info->err)->avertissements;
    }
}

void sortieSilencieuse(j_common_ptr) {}

void installer(ErreurJpeg& erreur)
{
    jpeg_std_error(&erreur.base);
    erreur.base.error_exit = erreurFatale;
    erreur.base.emit_message = message;
    erreur.base.output_message = sortieSilencieuse;
    erreur.avertissements = 0;
}

// Everything the jump may come back to lives in this structure, in memory the caller
// owns, so nothing is left in a register across longjmp and no destructor is skipped.
struct Decodage {
    jpeg_decompress_struct info;
    ErreurJpeg erreur;
    QImage image;
};

bool decoder(Decodage& d, const QByteArray& donnees)
{
    if (setjmp(d.erreur.retour) != 0) {
        return false;
    }
    jpeg_mem_src(&d.info, reinterpret_cast<const unsigned char*>(donnees.constData()),
                 static_cast<unsigned long>(donnees.size()));
    if (jpeg_read_header(&d.info, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    if (d.info.image_width == 0 || d.info.image_height == 0 || d.info.image_width > COTE_MAX ||
        d.info.image_height > COTE_MAX) {
        return false;
    }
    d.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.info);
    if (d.info.output_components != 3) {
        return false;
    }
    d.image = QImage(static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height),
                     QImage::Format_RGB888);
    if (d.image.isNull()) {
        return false;
    }
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW ligne = d.image.scanLine(static_cast<int>(d.info.output_scanline));
        if (jpeg_read_scanlines(&d.info, &ligne, 1) != 1) {
            return false;
        }
    }
    jpeg_finish_decompress(&d.info);
    return d.erreur.avertissements == 0;
}

struct Encodage {
    jpeg_compress_struct info;
    ErreurJpeg erreur;
    QImage source;
    unsigned char* sortie = nullptr;
    unsigned long taille = 0;
};

bool encoder(Encodage& e, int qualite)
{
    if (setjmp(e.erreur.retour) != 0) {
        return false;
    }
    jpeg_mem_dest(&e.info, &e.sortie, &e.taille);
    e.info.image_width = static_cast<JDIMENSION>(e.source.width());
    e.info.image_height = static_cast<JDIMENSION>(e.source.height());
    e.info.input_components = 3;
    e.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&e.info);
    jpeg_set_quality(&e.info, qualite, TRUE);
    for (int i = 0; i < e.info.num_components; ++i) {
        e.info.comp_info[i].h_samp_factor = 1;
        e.info.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&e.info, TRUE);
    while (e.info.next_scanline < e.info.image_height) {
        // libjpeg does not write through the row it is given.
        auto* ligne =
            const_cast<JSAMPROW>(e.source.constScanLine(static_cast<int>(e.info.next_scanline)));
        jpeg_write_scanlines(&e.info, &ligne, 1);
    }
    jpeg_finish_compress(&e.info);
    return true;
}

} // namespace

QImage decoderJpeg(const QByteArray& donnees)
{
    if (donnees.isEmpty()) {
        return {};
    }
    Decodage d{};
    installer(d.erreur);
    d.info.err = &d.erreur.base;
    jpeg_create_decompress(&d.info);
    const bool reussi = decoder(d, donnees);
    jpeg_destroy_decompress(&d.info);
    if (!reussi) {
        return {};
    }
    return d.image.convertToFormat(QImage::Format_RGB32);
}

QByteArray encoderJpeg(const QImage& image, int qualite)
{
    if (image.isNull()) {
        return {};
    }
    Encodage e{};
    e.source = image.convertToFormat(QImage::Format_RGB888);
    installer(e.erreur);
    e.info.err = &e.erreur.base;
    jpeg_create_compress(&e.info);
    const bool reussi = encoder(e, qualite < 1 ? 1 : (qualite > 100 ? 100 : qualite));
    jpeg_destroy_compress(&e.info);
    QByteArray resultat;
    if (reussi && e.sortie != nullptr) {
        resultat =
            QByteArray(reinterpret_cast<const char*>(e.sortie), static_cast<qsizetype>(e.taille));
    }
    std::free(e.sortie);
    return resultat;
}

} // namespace korvane::pictures
